// Asynchronous org.freedesktop.DBus.Properties access on an asio
// connection.
#pragma once

#include <sdbusplus/asio/connection.hpp>

#include <boost/system/error_code.hpp>

#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace sdbusplus
{
namespace asio
{

/** Reads one property and calls `handler(ec, value)` once.  A value of
 *  another type than PropertyType gives invalid_argument; a D-Bus error
 *  gives its errno.  On failure the value is default-constructed. */
template <typename PropertyType>
void getProperty(
    sdbusplus::asio::connection& bus, const std::string& service,
    const std::string& path, const std::string& interface,
    const std::string& propertyName,
    std::function<void(boost::system::error_code, PropertyType)>&& handler)
{
    bus.async_method_call(
        [handler = std::move(handler)](
            boost::system::error_code ec,
            std::variant<std::monostate, PropertyType>& ret) mutable
        {
            if (ec)
            {
                handler(ec, PropertyType{});
                return;
            }
            if (auto* value = std::get_if<PropertyType>(&ret))
            {
                handler(ec, std::move(*value));
                return;
            }
            handler(boost::system::errc::make_error_code(
                        boost::system::errc::invalid_argument),
                    PropertyType{});
        },
        service, path, "org.freedesktop.DBus.Properties", "Get", interface,
        propertyName);
}

/** Sets one property; `handler(ec)` is called once with the outcome. */
template <typename PropertyType, typename Handler>
void setProperty(sdbusplus::asio::connection& bus, const std::string& service,
                 const std::string& path, const std::string& interface,
                 const std::string& propertyName, PropertyType&& value,
                 Handler&& handler)
{
    bus.async_method_call(std::forward<Handler>(handler), service, path,
                          "org.freedesktop.DBus.Properties", "Set", interface,
                          propertyName,
                          std::variant<std::decay_t<PropertyType>>(
                              std::forward<PropertyType>(value)));
}

/** Reads all properties of an interface, each into VariantType. */
template <typename VariantType>
void getAllProperties(
    sdbusplus::asio::connection& bus, const std::string& service,
    const std::string& path, const std::string& interface,
    std::function<void(
        const boost::system::error_code&,
        const std::vector<std::pair<std::string, VariantType>>&)>&& handler)
{
    bus.async_method_call(
        [handler = std::move(handler)](
            boost::system::error_code ec,
            std::vector<std::pair<std::string, VariantType>>& ret) mutable
        { handler(ec, ret); },
        service, path, "org.freedesktop.DBus.Properties", "GetAll", interface);
}

} // namespace asio
} // namespace sdbusplus
