#pragma once

// The built ipmid host, with the build's provider directory, as a child
// process of a test in the board sandbox.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::test
{

class IpmidProcess
{
  public:
    struct Options
    {
        /** The socket of ipmitool's dummy interface it serves. */
        std::filesystem::path dummySocket;
        /** Libraries it runs with in LD_PRELOAD (test doubles); empty
         *  leaves its environment as the test's. */
        std::vector<std::string> preload;
        /** Appends its stdout here and its stderr to LOG.err; empty leaves
         *  them the test's own. */
        std::filesystem::path log;
    };

    /** Starts it and waits until both front ends accept requests (its bus
     *  name is owned and the dummy socket listens); ready() says whether
     *  that happened within 10 s. */
    explicit IpmidProcess(Options options);
    ~IpmidProcess();
    IpmidProcess(const IpmidProcess&) = delete;
    IpmidProcess& operator=(const IpmidProcess&) = delete;

    bool ready() const
    {
        return isReady;
    }
    pid_t pid() const
    {
        return child;
    }
    const std::filesystem::path& dummySocket() const
    {
        return options.dummySocket;
    }

    /** SIGTERM and wait for it; true when it exited with status 0. */
    bool stop();

  private:
    Options options;
    pid_t child = -1;
    bool isReady = false;
};

} // namespace kestrel::test
