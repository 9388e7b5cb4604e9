// ipmid host: connects to the system bus, loads the provider libraries, then
// serves IPMI requests from its front ends (D-Bus `execute` and ipmitool's
// dummy socket) until SIGTERM or SIGINT.
#include "host.hpp"
#include "ipmid_shared.hpp"

#include <unistd.h>

#include <boost/asio/signal_set.hpp>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#ifndef IPMID_PROVIDERS_DIR
#define IPMID_PROVIDERS_DIR "/usr/lib/ipmid-providers"
#endif

namespace
{

struct Options
{
    std::string providers = IPMID_PROVIDERS_DIR;
    std::string dummySocket;
    int notifyFd = -1;
};

void usage()
{
    std::cerr << "usage: ipmid [--providers DIR] [--dummy-socket PATH] "
                 "[--notify-fd FD]\n";
}

std::optional<Options> parseArgs(int argc, char** argv)
{
    Options options;
    const char* env = std::getenv("IPMI_DUMMY_SOCK");
    options.dummySocket = env ? env : "/tmp/.ipmi_dummy";
    for (int i = 1; i < argc; ++i)
    {
        std::string arg = argv[i];
        if (i + 1 >= argc)
        {
            return std::nullopt;
        }
        std::string value = argv[++i];
        if (arg == "--providers")
        {
            options.providers = value;
        }
        else if (arg == "--dummy-socket")
        {
            options.dummySocket = value;
        }
        else if (arg == "--notify-fd")
        {
            options.notifyFd = std::atoi(value.c_str());
        }
        else
        {
            return std::nullopt;
        }
    }
    return options;
}

int run(const Options& options)
{
    auto io = std::make_shared<boost::asio::io_context>();
    // The default bus of this thread: the system bus for a root daemon.
    // Legacy handlers' blocking calls use the same connection.
    auto bus = std::make_shared<sdbusplus::asio::connection>(*io);
    ipmi::host::setShared(io, bus);

    auto handles = ipmi::host::loadProviders(options.providers);
    std::cout << "ipmid: " << handles.size() << " provider(s) loaded from "
              << options.providers << std::endl;

    // Take the name only once every handler is registered, so a client that
    // waits for the name finds the commands in place.
    ipmi::host::DbusServer dbusServer(bus);
    bus->request_name(ipmi::host::busName);
    ipmi::host::DummyServer dummy(*io, bus, options.dummySocket);

    boost::asio::signal_set signals(*io, SIGINT, SIGTERM);
    signals.async_wait(
        [&io](const boost::system::error_code&, int) { io->stop(); });

    if (options.notifyFd >= 0)
    {
        // Tell whoever started us that the front ends accept requests.
        static const char ready[] = "READY\n";
        if (::write(options.notifyFd, ready, sizeof(ready) - 1) < 0)
        {
            std::cerr << "ipmid: notify failed: " << std::strerror(errno)
                      << "\n";
        }
        ::close(options.notifyFd);
    }
    io->run();
    ipmi::host::setShared(nullptr, nullptr);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    auto options = parseArgs(argc, argv);
    if (!options)
    {
        usage();
        return 2;
    }
    try
    {
        return run(*options);
    }
    catch (const std::exception& e)
    {
        std::cerr << "ipmid: " << e.what() << "\n";
        return 1;
    }
}
