#pragma once

// Requests through the host's dispatcher on a connection the test keeps.

#include "host.hpp"
#include "provider.hpp"

#include <memory>
#include <sdbusplus/asio/connection.hpp>

namespace kestrel::test
{

/** An io_context and a bus connection, as ipmid gives its handlers; kept for
 *  a test's lifetime, so matches it adds on `bus` see what requests cause. */
struct HostBus
{
    boost::asio::io_context io;
    std::shared_ptr<sdbusplus::asio::connection> bus =
        std::make_shared<sdbusplus::asio::connection>(io);

    Reply send(ipmi::NetFn netFn, ipmi::Cmd cmd, const Bytes& data = {});
};

} // namespace kestrel::test
