// The D-Bus front end: method `execute` of xyz.openbmc_project.Ipmi.Server,
// the entry the BMC's channel bridges (and `busctl call`) send requests to.
#include "host.hpp"

#include <ipmid/types.hpp>
#include <map>
#include <sdbusplus/asio/object_server.hpp>
#include <string>
#include <tuple>
#include <variant>

namespace ipmi::host
{
namespace
{

constexpr auto objectPath = "/xyz/openbmc_project/Ipmi";
constexpr auto interfaceName = "xyz.openbmc_project.Ipmi.Server";

using ExecuteReply =
    std::tuple<uint8_t, uint8_t, uint8_t, uint8_t, std::vector<uint8_t>>;

// The privilege a bridge passes for the session; without one the request is
// session-less and runs at Administrator.  A value that names no level runs
// with none, so a confused caller gets less, never more.
Privilege requestPrivilege(const std::map<std::string, Value>& options)
{
    auto it = options.find("privilege");
    if (it == options.end())
    {
        return Privilege::Admin;
    }
    int64_t level = -1;
    std::visit(
        [&level](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>)
            {
                level = static_cast<int64_t>(v);
            }
        },
        it->second);
    if (level < static_cast<int64_t>(Privilege::None) ||
        level > static_cast<int64_t>(Privilege::Oem))
    {
        return Privilege::None;
    }
    return static_cast<Privilege>(level);
}

} // namespace

struct DbusServer::Impl
{
    explicit Impl(std::shared_ptr<sdbusplus::asio::connection> bus) :
        server(bus)
    {
        iface = server.add_interface(objectPath, interfaceName);
        iface->register_method(
            "execute",
            [bus](boost::asio::yield_context yield, NetFn netFn, uint8_t lun,
                  Cmd cmd, std::vector<uint8_t> data,
                  std::map<std::string, Value> options) -> ExecuteReply {
                Reply reply = dispatch(yield, bus, netFn, lun, cmd, data,
                                       requestPrivilege(options));
                return {static_cast<uint8_t>(netFn | 1), lun, cmd, reply.cc,
                        std::move(reply.data)};
            });
        iface->initialize();
    }

    sdbusplus::asio::object_server server;
    std::shared_ptr<sdbusplus::asio::dbus_interface> iface;
};

DbusServer::DbusServer(std::shared_ptr<sdbusplus::asio::connection> bus) :
    impl(std::make_unique<Impl>(std::move(bus)))
{
}

DbusServer::~DbusServer() = default;

} // namespace ipmi::host
