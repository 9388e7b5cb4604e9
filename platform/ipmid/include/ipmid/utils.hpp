// D-Bus helpers for typed handlers.  They run inside the request's coroutine
// on the context's connection, suspend it until the reply arrives, and report
// D-Bus failures as error codes: they never throw for them.
#pragma once

#include <boost/system/error_code.hpp>
#include <ipmid/api-types.hpp>
#include <ipmid/message.hpp>
#include <ipmid/types.hpp>
#include <sdbusplus/asio/connection.hpp>
#include <string>

namespace ipmi
{

constexpr auto PROP_INTF = "org.freedesktop.DBus.Properties";
constexpr auto METHOD_SET = "Set";

/** Sets `property` to whichever alternative of `value` is active. */
boost::system::error_code
    setDbusProperty(Context::ptr ctx, const std::string& service,
                    const std::string& objPath, const std::string& interface,
                    const std::string& property, const Value& value);

/** Calls a method that takes no arguments; its reply is not read. */
boost::system::error_code callDbusMethod(Context::ptr ctx,
                                         const std::string& service,
                                         const std::string& objPath,
                                         const std::string& interface,
                                         const std::string& method);

} // namespace ipmi
