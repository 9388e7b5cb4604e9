// How the ipmid host hands its I/O context and connection to libipmid.
#pragma once

#include <boost/asio/io_context.hpp>
#include <memory>

namespace sdbusplus::asio
{
class connection;
}

namespace ipmi::host
{

void setShared(std::shared_ptr<boost::asio::io_context> io,
               std::shared_ptr<sdbusplus::asio::connection> bus);

} // namespace ipmi::host
