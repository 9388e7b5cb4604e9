#include "ipmid.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace kestrel::test
{

IpmidProcess::IpmidProcess(Options opts) : options(std::move(opts))
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
    {
        return;
    }
    // The test's environment with LD_PRELOAD set (by env), and ASan told not
    // to refuse a library ahead of its runtime (the doubles replace no
    // allocator).
    std::string libs;
    for (const auto& lib : options.preload)
    {
        libs += (libs.empty() ? "" : ":") + lib;
    }
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::vector<std::string> args = {"/usr/bin/env",
                                     "LD_PRELOAD=" + libs,
                                     std::string("ASAN_OPTIONS=") +
                                         (asan != nullptr ? asan : "") +
                                         ":verify_asan_link_order=0",
                                     IPMID_EXE,
                                     "--providers",
                                     KESTREL_PROVIDER_DIR,
                                     "--dummy-socket",
                                     options.dummySocket.string(),
                                     "--notify-fd",
                                     std::to_string(fds[1])};
    std::vector<char*> argv;
    for (auto& a : args)
    {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    child = ::fork();
    if (child == 0)
    {
        ::close(fds[0]);
        ::fcntl(fds[1], F_SETFD, 0); // the notify end survives exec
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    if (child > 0)
    {
        // ipmid writes a line once it serves; the pipe closes without one
        // when it fails to start.
        pollfd p{fds[0], POLLIN, 0};
        char buf[16] = {};
        isReady =
            ::poll(&p, 1, 10'000) == 1 && ::read(fds[0], buf, sizeof(buf)) > 0;
    }
    ::close(fds[0]);
}

IpmidProcess::~IpmidProcess()
{
    if (child > 0 && ::kill(child, SIGTERM) == 0)
    {
        ::waitpid(child, nullptr, 0);
    }
}

} // namespace kestrel::test
