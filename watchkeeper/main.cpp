// watchkeeper: turns watched D-Bus property changes into LED writes, fault
// masks and shell commands, as /usr/share/property-monitor/config.json says.
#include "watchkeeper.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <sdbusplus/asio/connection.hpp>

#ifndef WATCHKEEPER_CONFIG
#define WATCHKEEPER_CONFIG "/usr/share/property-monitor/config.json"
#endif

int main()
{
    try
    {
        boost::asio::io_context io;
        sdbusplus::asio::connection conn(io);
        property_mon::BusActuator actuator(conn);
        property_mon::WatchKeeper keeper(conn, actuator, WATCHKEEPER_CONFIG);
        property_mon::readInitialHostState(conn, keeper);

        // A stop request ends the loop, so the watches are removed on the
        // way out.
        boost::asio::signal_set stop(io, SIGTERM, SIGINT);
        stop.async_wait(
            [&io](const boost::system::error_code&, int) { io.stop(); });
        io.run();
    }
    catch (const std::exception& e)
    {
        std::cerr << e.what() << std::endl;
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
