// D-Bus and systemd operations shared by the command handlers: the blocking
// ones of dbus_blocking.hpp, and the asynchronous ones that serve the typed
// handlers.  These run on the request context's connection, suspend the
// handler's coroutine until the reply arrives and return an error code
// instead of throwing.
#pragma once

#include "dbus_blocking.hpp"
#include "kestrel.hpp"

#include <boost/system/error_code.hpp>
#include <ipmid/api.hpp>
#include <memory>
#include <string>

namespace kestrel::dbus
{

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
