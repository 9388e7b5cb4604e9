// SSH control: allow or block SSH per network interface through the network
// service's `SSH` property.  The firewall rule and its persistence belong to
// portwarden, which follows the property's PropertiesChanged signal; these
// handlers only read and write the property.
#include "dbus_ops.hpp"
#include "kestrel.hpp"

#include <ipmid/api.hpp>
#include <ipmid/utils.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace
{

constexpr ipmi::NetFn netFnKestrel = 0x3A;
constexpr ipmi::Cmd cmdSshControlSet = 0x22;
constexpr ipmi::Cmd cmdSshControlGet = 0x23;

constexpr auto networkService = "xyz.openbmc_project.Network";
constexpr auto networkRoot = "/xyz/openbmc_project/network/";
constexpr auto ethernetInterface =
    "xyz.openbmc_project.Network.EthernetInterface";
constexpr auto sshProperty = "SSH";

// Interface number -> name; number 0 is the USB network interface.
constexpr std::array<const char*, 4> interfaceNames = {"usb0", "eth0", "eth1",
                                                       "eth2"};

constexpr uint8_t stateBlocked = 0x00;
constexpr uint8_t stateAllowed = 0x01;

/** The interface's object path, or nothing for an unknown number. */
std::optional<std::string> interfacePath(uint8_t number)
{
    if (number >= interfaceNames.size())
    {
        return std::nullopt;
    }
    return std::string(networkRoot) + interfaceNames[number];
}

} // namespace

/** Request: interface number, new state (0 block, 1 allow).  Writes `SSH`
 *  only when it differs from the requested state. */
KESTREL_EXPORT ipmi::RspType<> ipmiSshControlSet(ipmi::Context::ptr& ctx,
                                                 uint8_t interface,
                                                 uint8_t state)
{
    auto path = interfacePath(interface);
    if (!path || state > stateAllowed)
    {
        return ipmi::responseInvalidFieldRequest();
    }
    bool current = false;
    if (kestrel::dbus::getDbusProperty(ctx, networkService, *path,
                                       ethernetInterface, sshProperty,
                                       current))
    {
        return ipmi::responseInvalidFieldRequest();
    }
    const bool wanted = state == stateAllowed;
    if (current == wanted)
    {
        return ipmi::responseSuccess();
    }
    // A refused write leaves SSH (and with it the firewall) as it was, so
    // the requester must not be told it took effect.
    if (ipmi::setDbusProperty(ctx, networkService, *path, ethernetInterface,
                              sshProperty, ipmi::Value(wanted)))
    {
        return ipmi::responseUnspecifiedError();
    }
    return ipmi::responseSuccess();
}

/** Request: interface number.  Response: 1 when SSH is allowed there, 0 when
 *  it is blocked. */
KESTREL_EXPORT ipmi::RspType<uint8_t>
    ipmiSshControlGet(ipmi::Context::ptr& ctx, uint8_t interface)
{
    auto path = interfacePath(interface);
    if (!path)
    {
        return ipmi::responseInvalidFieldRequest();
    }
    bool allowed = false;
    if (kestrel::dbus::getDbusProperty(ctx, networkService, *path,
                                       ethernetInterface, sshProperty, allowed))
    {
        return ipmi::responseInvalidFieldRequest();
    }
    return ipmi::responseSuccess(allowed ? stateAllowed : stateBlocked);
}

extern "C" {

KESTREL_EXPORT void register_netfn_oem_ssh_login()
    __attribute__((constructor(KESTREL_CTOR_SSH_LOGIN)));

void register_netfn_oem_ssh_login()
{
    ipmi::impl::registerHandler(
        KESTREL_TYPED_PRIORITY, netFnKestrel, cmdSshControlSet,
        ipmi::Privilege::Admin,
        std::make_shared<ipmi::IpmiHandler<decltype(&ipmiSshControlSet)>>(
            ipmiSshControlSet));
    ipmi::impl::registerHandler(
        KESTREL_TYPED_PRIORITY, netFnKestrel, cmdSshControlGet,
        ipmi::Privilege::Admin,
        std::make_shared<ipmi::IpmiHandler<decltype(&ipmiSshControlGet)>>(
            ipmiSshControlGet));
}

} // extern "C"
