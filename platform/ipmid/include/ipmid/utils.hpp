// D-Bus helpers for typed handlers.  They run inside the request's coroutine
// on the context's connection, suspend it until the reply arrives, and report
// D-Bus failures as error codes: they never throw for them.
#pragma once

#include <ipmid/api-types.hpp>
#include <ipmid/message.hpp>
#include <ipmid/types.hpp>
#include <sdbusplus/asio/connection.hpp>
#include <sdbusplus/server.hpp>

#include <boost/system/error_code.hpp>

#include <chrono>
#include <string>
#include <variant>

namespace ipmi
{

using namespace std::literals::chrono_literals;

constexpr auto ROOT = "/";
constexpr auto HOST_MATCH = "host0";
constexpr auto PROP_INTF = "org.freedesktop.DBus.Properties";
constexpr auto DELETE_INTERFACE = "xyz.openbmc_project.Object.Delete";
constexpr auto METHOD_GET = "Get";
constexpr auto METHOD_GET_ALL = "GetAll";
constexpr auto METHOD_SET = "Set";

constexpr std::chrono::microseconds IPMI_DBUS_TIMEOUT = 5s;

/** Reads `property` into `propertyValue`.  A reply holding another type
 *  than `Type` gives invalid_argument and leaves `propertyValue` alone. */
template <typename Type>
boost::system::error_code
    getDbusProperty(Context::ptr ctx, const std::string& service,
                    const std::string& objPath, const std::string& interface,
                    const std::string& property, Type& propertyValue)
{
    boost::system::error_code ec;
    auto variant = ctx->bus->yield_method_call<std::variant<Type>>(
        ctx->yield, ec, service.c_str(), objPath.c_str(), PROP_INTF,
        METHOD_GET, interface, property);
    if (!ec)
    {
        if (const Type* value = std::get_if<Type>(&variant))
        {
            propertyValue = *value;
            return ec;
        }
        ec = boost::system::errc::make_error_code(
            boost::system::errc::invalid_argument);
    }
    return ec;
}

/** Sets `property` to whichever alternative of `value` is active. */
boost::system::error_code
    setDbusProperty(Context::ptr ctx, const std::string& service,
                    const std::string& objPath, const std::string& interface,
                    const std::string& property, const Value& value);

/** Calls a method that takes no arguments; its reply is not read. */
boost::system::error_code
    callDbusMethod(Context::ptr ctx, const std::string& service,
                   const std::string& objPath, const std::string& interface,
                   const std::string& method);

/** Calls a method with arguments; its reply is not read. */
template <typename... InputArgs>
boost::system::error_code
    callDbusMethod(Context::ptr ctx, const std::string& service,
                   const std::string& objPath, const std::string& interface,
                   const std::string& method, const InputArgs&... args)
{
    boost::system::error_code ec;
    ctx->bus->yield_method_call(ctx->yield, ec, service, objPath, interface,
                                method, args...);
    return ec;
}

/** Calls a method and returns its reply read as `RetType`; `ec` reports a
 *  failure and the result is then default-constructed. */
template <typename RetType, typename... InputArgs>
RetType callDbusMethod(Context::ptr ctx, boost::system::error_code& ec,
                       const std::string& service, const std::string& objPath,
                       const std::string& interface, const std::string& method,
                       const InputArgs&... args)
{
    return ctx->bus->yield_method_call<RetType>(ctx->yield, ec, service,
                                                objPath, interface, method,
                                                args...);
}

} // namespace ipmi
