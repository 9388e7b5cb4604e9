// The I/O context and bus connection the daemon shares with its providers.
// ipmid sets them before it loads the providers, so a provider's constructor
// may already ask for them; nothing runs on them until the daemon's loop does.
#include "ipmid_shared.hpp"

#include <ipmid/api.hpp>

namespace
{
std::shared_ptr<boost::asio::io_context> sharedIo;
std::shared_ptr<sdbusplus::asio::connection> sharedBus;
} // namespace

std::shared_ptr<boost::asio::io_context> getIoContext()
{
    return sharedIo;
}

std::shared_ptr<sdbusplus::asio::connection> getSdBus()
{
    return sharedBus;
}

namespace ipmi::host
{

void setShared(std::shared_ptr<boost::asio::io_context> io,
               std::shared_ptr<sdbusplus::asio::connection> bus)
{
    sharedIo = std::move(io);
    sharedBus = std::move(bus);
}

} // namespace ipmi::host
