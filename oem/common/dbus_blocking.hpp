// The blocking D-Bus and systemd operations shared by the legacy handlers:
// they run on the calling thread's default bus, wait for the reply and throw
// on failure (sdbusplus::exception::SdBusError, or std::bad_variant_access
// when a reply holds another type than the one read).  The handlers let
// these escape.  dbus_ops.hpp adds the typed handlers' operations.
#pragma once

#include "dbus_names.hpp"
#include "kestrel.hpp"

#include <sdbusplus/bus.hpp>
#include <string>
#include <variant>

namespace kestrel::dbus
{

/** A property value the blocking Set can carry. */
using PropertyValue = std::variant<std::string, bool>;

/** Calls `member` with `args` and waits for the method return, which is not
 *  read.  Throws SdBusError ("sd_bus_message_new_method_call" when the
 *  message cannot be built, "sd_bus_call noreply" when the call fails). */
template <typename... Args>
void callMethodNoReply(const std::string& service, const std::string& path,
                       const std::string& interface, const std::string& member,
                       const Args&... args)
{
    auto bus = sdbusplus::bus::new_default();
    auto call = bus.new_method_call(service.c_str(), path.c_str(),
                                    interface.c_str(), member.c_str());
    if constexpr (sizeof...(Args) > 0)
    {
        call.append(args...);
    }
    bus.call_noreply(call);
}

/** Properties.Set of a string or boolean property. */
void setPropertyNoReply(const std::string& service, const std::string& path,
                        const std::string& interface,
                        const std::string& property,
                        const PropertyValue& value);

/** Start, Stop or Restart of the unit at `unitPath`, job mode "replace". */
void startStopUnit(const std::string& unitPath, const std::string& member);

/** The unit's ActiveState, whatever systemd reports ("active", "inactive",
 *  "activating", ...). */
std::string getUnitActiveState(const std::string& unitPath);

void setLedGroupAsserted(const std::string& groupPath, bool asserted);
bool getLedGroupAsserted(const std::string& groupPath);

} // namespace kestrel::dbus
