// D-Bus and systemd operations shared by the command handlers.
//
// Blocking operations serve the legacy handlers: they run on the calling
// thread's default bus, wait for the reply and throw on failure
// (sdbusplus::exception::SdBusError, or std::bad_variant_access when a reply
// holds another type than the one read).  The handlers let these escape.
//
// Asynchronous operations serve the typed handlers: they run on the request
// context's connection, suspend the handler's coroutine until the reply
// arrives and return an error code instead of throwing.
#pragma once

#include "dbus_names.hpp"
#include "kestrel.hpp"

#include <boost/system/error_code.hpp>
#include <ipmid/api.hpp>
#include <memory>
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

/** Reads a boolean property.  On success the error code is clear and `value`
 *  is set; a D-Bus failure returns its error; a reply that holds no boolean
 *  returns invalid_argument.  `value` changes only on success. */
boost::system::error_code
    getDbusProperty(ipmi::Context::ptr ctx, const std::string& service,
                    const std::string& path, const std::string& interface,
                    const std::string& property, bool& value);

} // namespace kestrel::dbus

namespace ipmi
{

/** Manager method `method` (StartUnit, RestartUnit, ...) for `unit`, mode
 *  "replace"; on failure prints "Failed to perform systemd method: " and the
 *  error on standard output. */
KESTREL_EXPORT boost::system::error_code
    performSystemdMethod(std::shared_ptr<ipmi::Context>& ctx,
                         const std::string& unit, const std::string& method);

/** Manager.Reload; on failure prints "Failed to perform systemd
 *  daemon-reload: " and the error on standard error. */
KESTREL_EXPORT boost::system::error_code
    performSystemdDaemonReload(std::shared_ptr<ipmi::Context>& ctx);

} // namespace ipmi
