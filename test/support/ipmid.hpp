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
        /** Libraries it runs with in LD_PRELOAD (test doubles). */
        std::vector<std::string> preload;
    };

    /** Starts it and waits until both front ends accept requests (its bus
     *  name is owned and the dummy socket listens); ready() says whether
     *  that happened within 10 s.  It is stopped with SIGTERM when this
     *  object goes. */
    explicit IpmidProcess(Options options);
    ~IpmidProcess();
    IpmidProcess(const IpmidProcess&) = delete;
    IpmidProcess& operator=(const IpmidProcess&) = delete;

    bool ready() const
    {
        return isReady;
    }
    const std::filesystem::path& dummySocket() const
    {
        return options.dummySocket;
    }

  private:
    Options options;
    pid_t child = -1;
    bool isReady = false;
};

} // namespace kestrel::test
