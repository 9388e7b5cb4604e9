#pragma once

// The built ipmid host on the build's provider directory, as a child process
// of a test in the board sandbox.

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
        std::filesystem::path dummySocket; // ipmitool's dummy interface
        std::vector<std::string> preload;  // LD_PRELOAD (test doubles)
    };

    /** Starts it; ready() when both front ends served within 10 s.  Stopped
     *  with SIGTERM when this object goes. */
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
