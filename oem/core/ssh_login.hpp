// SSH control: allow or block SSH per network interface through the network
// service's `SSH` property.  The firewall rule and its persistence belong to
// portwarden, which follows the property's PropertiesChanged signal; these
// commands only read and write the property.
#pragma once

#include "answer.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel::ssh_login
{

/** The `SSH` property of an Ethernet interface object of the network
 *  service. */
struct SshSetting
{
    virtual ~SshSetting() = default;
    /** The property's value, or nothing when it could not be read (a D-Bus
     *  failure, or a reply holding no boolean). */
    virtual std::optional<bool> allowed(const std::string& interfacePath) = 0;
    /** False when the write was refused or failed. */
    virtual bool setAllowed(const std::string& interfacePath, bool allowed) = 0;
};

/** The object of interface number `number` (0 usb0, 1 eth0, 2 eth1,
 *  3 eth2), or nothing for an unknown number. */
std::optional<std::string> interfacePath(uint8_t number);

/** Interface number, new state (0 block, 1 allow).  Writes `SSH` only when
 *  it differs from the requested state. */
Answer sshControlSet(uint8_t interface, uint8_t state, SshSetting& setting);

/** Interface number.  Response: 1 when SSH is allowed there, 0 when it is
 *  blocked. */
Answer sshControlGet(uint8_t interface, SshSetting& setting);

} // namespace kestrel::ssh_login
