#include "ipmid.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

extern char** environ;

namespace kestrel::test
{

namespace
{

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    for (auto& s : strings)
    {
        out.push_back(s.data());
    }
    out.push_back(nullptr);
    return out;
}

} // namespace

IpmidProcess::IpmidProcess(Options opts) : options(std::move(opts))
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
    {
        return;
    }
    std::vector<std::string> args = {IPMID_EXE,
                                     "--providers",
                                     KESTREL_PROVIDER_DIR,
                                     "--dummy-socket",
                                     options.dummySocket.string(),
                                     "--notify-fd",
                                     std::to_string(fds[1])};
    // The test's environment with LD_PRELOAD set, and ASan told not to
    // refuse a library ahead of its runtime (the doubles replace no
    // allocator).
    std::string libs;
    for (const auto& lib : options.preload)
    {
        libs += (libs.empty() ? "" : ":") + lib;
    }
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::vector<std::string> env = {"LD_PRELOAD=" + libs,
                                    std::string("ASAN_OPTIONS=") +
                                        (asan != nullptr ? asan : "") +
                                        ":verify_asan_link_order=0"};
    for (char** e = environ; *e != nullptr; ++e)
    {
        std::string_view var = *e;
        if (!var.starts_with("LD_PRELOAD=") &&
            !var.starts_with("ASAN_OPTIONS="))
        {
            env.emplace_back(var);
        }
    }
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(env);

    child = ::fork();
    if (child == 0)
    {
        ::close(fds[0]);
        ::fcntl(fds[1], F_SETFD, 0); // the notify end survives exec
        ::execve(argv[0], argv.data(), envp.data());
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
