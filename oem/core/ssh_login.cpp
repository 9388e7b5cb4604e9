#include "ssh_login.hpp"

#include "dbus_names.hpp"

#include <array>

namespace kestrel::ssh_login
{
namespace
{

// Interface number -> name; number 0 is the USB network interface.
constexpr std::array<const char*, 4> interfaceNames = {"usb0", "eth0", "eth1",
                                                       "eth2"};

constexpr uint8_t stateBlocked = 0x00;
constexpr uint8_t stateAllowed = 0x01;

} // namespace

std::optional<std::string> interfacePath(uint8_t number)
{
    if (number >= interfaceNames.size())
    {
        return std::nullopt;
    }
    return std::string(dbus::networkRoot) + interfaceNames[number];
}

Answer sshControlSet(uint8_t interface, uint8_t state, SshSetting& setting)
{
    auto path = interfacePath(interface);
    if (!path || state > stateAllowed)
    {
        return failure(ipmi::ccInvalidFieldRequest);
    }
    auto current = setting.allowed(*path);
    if (!current)
    {
        return failure(ipmi::ccInvalidFieldRequest);
    }
    const bool wanted = state == stateAllowed;
    if (*current == wanted)
    {
        return success();
    }
    // A refused write leaves SSH (and with it the firewall) as it was, so
    // the requester must not be told it took effect.
    if (!setting.setAllowed(*path, wanted))
    {
        return failure(ipmi::ccUnspecifiedError);
    }
    return success();
}

Answer sshControlGet(uint8_t interface, SshSetting& setting)
{
    auto path = interfacePath(interface);
    if (!path)
    {
        return failure(ipmi::ccInvalidFieldRequest);
    }
    auto allowed = setting.allowed(*path);
    if (!allowed)
    {
        return failure(ipmi::ccInvalidFieldRequest);
    }
    return success({*allowed ? stateAllowed : stateBlocked});
}

} // namespace kestrel::ssh_login
