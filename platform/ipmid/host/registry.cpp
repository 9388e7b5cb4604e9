#include "host.hpp"

#include <boost/asio/detached.hpp>
#include <boost/asio/spawn.hpp>
#include <iterator>
#include <utility>

namespace ipmi::host
{
namespace
{

using Map = std::map<unsigned, Registration>;

Map& standardMap()
{
    static Map m;
    return m;
}
Map& groupMap()
{
    static Map m;
    return m;
}

// Same rule as ipmid: a slot is taken over by an equal or higher priority.
template <typename M, typename K>
bool insert(M& map, K key, Registration reg)
{
    auto it = map.find(key);
    if (it != map.end() && it->second.prio > reg.prio)
    {
        return false;
    }
    map.insert_or_assign(key, std::move(reg));
    return true;
}

bool validNetFn(NetFn netFn)
{
    return (netFn & 1) == 0 && !(netFn >= 0x0E && netFn <= 0x2A) &&
           netFn <= 0x3E;
}

Privilege mapLegacyPrivilege(int priv)
{
    switch (priv)
    {
        case PRIVILEGE_CALLBACK:
            return Privilege::Callback;
        case PRIVILEGE_USER:
            return Privilege::User;
        case PRIVILEGE_OPERATOR:
            return Privilege::Operator;
        case PRIVILEGE_ADMIN:
            return Privilege::Admin;
        case PRIVILEGE_OEM:
            return Privilege::Oem;
        default:
            // SYSTEM_INTERFACE and anything unknown run at Admin.
            return Privilege::Admin;
    }
}

template <typename M, typename K>
const Registration* find(const M& map, K exact, K wildcard)
{
    if (auto it = map.find(exact); it != map.end())
    {
        return &it->second;
    }
    if (auto it = map.find(wildcard); it != map.end())
    {
        return &it->second;
    }
    return nullptr;
}

message::Response::ptr run(const Registration* reg,
                           message::Request::ptr request)
{
    if (reg == nullptr)
    {
        return errorResponse(request, ccInvalidCommand);
    }
    if (request->ctx->priv < reg->priv)
    {
        return errorResponse(request, ccInsufficientPrivilege);
    }
    return reg->handler->call(request);
}

message::Response::ptr executeIpmiCommand(message::Request::ptr request)
{
    NetFn netFn = request->ctx->netFn;
    Cmd cmd = request->ctx->cmd;
    if (netFn == netFnGroup)
    {
        // The defining-body byte selects the group and leads every answer.
        uint8_t group = 0;
        if (request->payload.unpack(group) != 0)
        {
            return errorResponse(request, ccReqDataLenInvalid);
        }
        request->ctx->group = group;
        auto response = run(find(groupMap(), (unsigned(group) << 8) | cmd,
                                 (unsigned(group) << 8) | cmdWildcard),
                            request);
        message::Payload prefix;
        prefix.pack(group);
        response->prepend(prefix);
        return response;
    }
    if (netFn == netFnOem)
    {
        uint8_t iana[3] = {};
        if (request->payload.unpack(iana[0], iana[1], iana[2]) != 0)
        {
            return errorResponse(request, ccReqDataLenInvalid);
        }
        // No provider registers IANA-numbered handlers: every such request
        // is an unknown command, answered after its IANA number.
        auto response = run(nullptr, request);
        // Copied whole: three single pushes onto the empty buffer draw a
        // false -Wstringop-overflow from GCC 12 on 32-bit ARM.
        message::Payload prefix;
        prefix.raw.assign(std::begin(iana), std::end(iana));
        response->prepend(prefix);
        return response;
    }
    return run(find(standardMap(), (unsigned(netFn) << 8) | cmd,
                    (unsigned(netFn) << 8) | cmdWildcard),
               request);
}

} // namespace

std::map<unsigned, Registration> registrations()
{
    return standardMap();
}

void clearRegistry()
{
    standardMap().clear();
    groupMap().clear();
}

Reply dispatch(boost::asio::yield_context yield,
               std::shared_ptr<sdbusplus::asio::connection> bus, NetFn netFn,
               uint8_t lun, Cmd cmd, const std::vector<uint8_t>& data,
               Privilege priv)
{
    auto ctx =
        std::make_shared<Context>(std::move(bus), netFn, lun, cmd,
                                  channelSystemIface, 0, 0, priv, 0, 0, yield);
    auto request = std::make_shared<message::Request>(
        ctx, SecureBuffer(data.begin(), data.end()));
    auto response = executeIpmiCommand(request);
    return Reply{response->cc,
                 std::vector<uint8_t>(response->payload.raw.begin(),
                                      response->payload.raw.end())};
}

void spawnRequest(boost::asio::io_context& io,
                  std::shared_ptr<sdbusplus::asio::connection> bus, NetFn netFn,
                  uint8_t lun, Cmd cmd, std::vector<uint8_t> data,
                  std::function<void(Reply)> done)
{
    boost::asio::spawn(
        io,
        [bus = std::move(bus), netFn, lun, cmd, data = std::move(data),
         done = std::move(done)](boost::asio::yield_context yield) {
            done(dispatch(yield, bus, netFn, lun, cmd, data));
        },
        boost::asio::detached);
}

Reply execute(boost::asio::io_context& io, NetFn netFn, Cmd cmd,
              const std::vector<uint8_t>& data,
              std::shared_ptr<sdbusplus::asio::connection> bus)
{
    std::optional<Reply> reply;
    spawnRequest(io, std::move(bus), netFn, 0, cmd, data,
                 [&reply](Reply r) { reply = std::move(r); });
    io.restart();
    while (!reply && io.run_one() != 0)
    {
    }
    if (!reply)
    {
        return Reply{ccUnspecifiedError, {}};
    }
    return *reply;
}

} // namespace ipmi::host

// Entry points that providers resolve from the executable.

void ipmi_register_callback(ipmi_netfn_t netFn, ipmi_cmd_t cmd,
                            ipmi_context_t context, ipmid_callback_t handler,
                            ipmi_cmd_privilege_t priv)
{
    using namespace ipmi;
    host::Registration reg{prioOpenBmcBase, host::mapLegacyPrivilege(priv),
                           true, static_cast<int>(priv),
                           makeLegacyHandler(handler, context)};
    if (netFn == netFnGroup)
    {
        host::insert(host::groupMap(), (unsigned(groupDCMI) << 8) | cmd,
                     std::move(reg));
        return;
    }
    host::insert(host::standardMap(), (unsigned(netFn) << 8) | cmd,
                 std::move(reg));
}

namespace ipmi::impl
{

bool registerHandler(int prio, NetFn netFn, Cmd cmd, Privilege priv,
                     HandlerBase::ptr handler)
{
    if (!host::validNetFn(netFn))
    {
        return false;
    }
    return host::insert(
        host::standardMap(), (unsigned(netFn) << 8) | cmd,
        host::Registration{prio, priv, false, -1, std::move(handler)});
}

} // namespace ipmi::impl
