// portwarden: enforces the per-interface SSH setting with packet filter
// rules and keeps it across reboots.  It handles the network service's
// Ethernet interfaces as they are added; interfaces that existed before it
// started are not looked up.
#include "ssh_mon.hpp"

#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/system/system_error.hpp>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <sdbusplus/asio/connection.hpp>
#include <sdbusplus/bus/match.hpp>
#include <string>

namespace
{

#ifdef PORTWARDEN_EPOLL_FALLBACK
/** Why the event loop's io_uring back end cannot be set up here (a kernel
 *  without it, io_uring switched off by sysctl or refused by a seccomp
 *  policy, an emulator), or nothing when it can.  Creating a timer makes
 *  Asio set up the ring. */
std::optional<std::string> ioUringUnavailable()
{
    try
    {
        boost::asio::io_context probe;
        boost::asio::steady_timer timer(probe);
    }
    catch (const boost::system::system_error& e)
    {
        return e.what();
    }
    return std::nullopt;
}

/** Replaces this process with the build of portwarden on the epoll back
 *  end: the one beside this executable, else the installed one.  Returns
 *  only when neither could be started. */
void execEpollBuild(char** argv)
{
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
    {
        auto sibling = self.parent_path() / "portwarden-epoll";
        ::execv(sibling.c_str(), argv);
    }
    ::execv(PORTWARDEN_EPOLL_FALLBACK, argv);
}
#endif

/** Runs the daemon until it is stopped; throws when it cannot start (no
 *  system bus, say). */
void run()
{
    boost::asio::io_context io;
    auto conn = std::make_shared<sdbusplus::asio::connection>(io);
    portwarden::Monitors monitors;

    // `monitors` outlives the loop that runs the callback.
    sdbusplus::bus::match_t added(
        *conn,
        "type='signal',interface='org.freedesktop.DBus.ObjectManager',"
        "member='InterfacesAdded'",
        [&io, conn, &monitors](sdbusplus::message_t& msg) {
            portwarden::onInterfacesAdded(msg, io, conn, monitors);
        });

    // Stopped by the service manager: leave the loop and exit cleanly.
    boost::asio::signal_set stop(io, SIGTERM, SIGINT);
    stop.async_wait(
        [&io](const boost::system::error_code&, int) { io.stop(); });

    io.run();
}

} // namespace

int main([[maybe_unused]] int argc, [[maybe_unused]] char** argv)
{
#ifdef PORTWARDEN_EPOLL_FALLBACK
    if (auto reason = ioUringUnavailable())
    {
        std::cerr << "io_uring unavailable (" << *reason
                  << "), running on epoll" << std::endl;
        execEpollBuild(argv);
        std::cerr << "Cannot start the epoll build of portwarden" << std::endl;
        return EXIT_FAILURE;
    }
#endif
    try
    {
        run();
    }
    catch (const std::exception& e)
    {
        std::cerr << e.what() << std::endl;
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
