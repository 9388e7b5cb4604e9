// Signal matches: a callback run for every message that fits a match rule,
// and builders for the rule strings.
#pragma once

#include <sdbusplus/bus.hpp>
#include <sdbusplus/message.hpp>

#include <systemd/sd-bus.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace sdbusplus
{
namespace bus
{

/** A match rule installed on a bus for as long as this object lives.  The
 *  callback runs while the bus is processed (bus.process(), or io.run() for
 *  an asio connection).  An exception escaping it ends the process: it
 *  would otherwise have to unwind through sd-bus. */
struct match_t
{
    using callback_t = std::function<void(sdbusplus::message_t&)>;

    match_t(sdbusplus::bus_t& bus, const char* rule,
            sd_bus_message_handler_t handler, void* context = nullptr);
    match_t(sdbusplus::bus_t& bus, const std::string& rule,
            sd_bus_message_handler_t handler, void* context = nullptr);
    match_t(sdbusplus::bus_t& bus, const char* rule, callback_t callback);
    match_t(sdbusplus::bus_t& bus, const std::string& rule,
            callback_t callback);

    match_t(const match_t&) = delete;
    match_t& operator=(const match_t&) = delete;
    match_t(match_t&&) = default;
    match_t& operator=(match_t&&) = default;
    ~match_t() = default;

  private:
    struct slot_deleter
    {
        void operator()(sd_bus_slot* s) const noexcept
        {
            sd_bus_slot_unref(s);
        }
    };

    // Declared first so the slot, which refers to it, goes away before it.
    std::unique_ptr<callback_t> _callback;
    std::unique_ptr<sd_bus_slot, slot_deleter> _slot;

    void install(sd_bus* bus, const char* rule,
                 sd_bus_message_handler_t handler, void* context);
};

namespace match
{
namespace rules
{

/** Every builder returns "key='value'," (trailing comma included); join
 *  them with +. */
namespace type
{
inline std::string signal()
{
    return "type='signal',";
}
inline std::string method()
{
    return "type='method_call',";
}
inline std::string method_return()
{
    return "type='method_return',";
}
inline std::string error()
{
    return "type='error',";
}
} // namespace type

namespace details
{
inline std::string keyValue(std::string_view key, std::string_view value)
{
    std::string rule;
    rule.reserve(key.size() + value.size() + 4);
    rule.append(key).append("='").append(value).append("',");
    return rule;
}
} // namespace details

inline std::string sender(std::string_view s)
{
    return details::keyValue("sender", s);
}
inline std::string interface(std::string_view s)
{
    return details::keyValue("interface", s);
}
inline std::string member(std::string_view s)
{
    return details::keyValue("member", s);
}
inline std::string path(std::string_view s)
{
    return details::keyValue("path", s);
}
inline std::string path_namespace(std::string_view s)
{
    return details::keyValue("path_namespace", s);
}
inline std::string destination(std::string_view s)
{
    return details::keyValue("destination", s);
}
inline std::string argN(std::size_t n, std::string_view s)
{
    return details::keyValue("arg" + std::to_string(n), s);
}
inline std::string argNpath(std::size_t n, std::string_view s)
{
    return details::keyValue("arg" + std::to_string(n) + "path", s);
}
inline std::string arg0namespace(std::string_view s)
{
    return details::keyValue("arg0namespace", s);
}
inline std::string eavesdrop()
{
    return "eavesdrop='true',";
}

inline std::string nameOwnerChanged()
{
    return type::signal() + sender("org.freedesktop.DBus") +
           member("NameOwnerChanged");
}
inline std::string nameOwnerChanged(std::string_view s)
{
    return nameOwnerChanged() + argN(0, s);
}

inline std::string interfacesAdded()
{
    return type::signal() + interface("org.freedesktop.DBus.ObjectManager") +
           member("InterfacesAdded");
}
inline std::string interfacesRemoved()
{
    return type::signal() + interface("org.freedesktop.DBus.ObjectManager") +
           member("InterfacesRemoved");
}
/** InterfacesAdded sent by the object manager at path `p`. */
inline std::string interfacesAdded(std::string_view p)
{
    return interfacesAdded() + path(p);
}
inline std::string interfacesRemoved(std::string_view p)
{
    return interfacesRemoved() + path(p);
}
/** InterfacesAdded for the object at `p`, whoever manages it. */
inline std::string interfacesAddedAtPath(std::string_view p)
{
    return interfacesAdded() + argNpath(0, p);
}
inline std::string interfacesRemovedAtPath(std::string_view p)
{
    return interfacesRemoved() + argNpath(0, p);
}

inline std::string propertiesChanged(std::string_view p, std::string_view i)
{
    return type::signal() + path(p) + member("PropertiesChanged") +
           interface("org.freedesktop.DBus.Properties") + argN(0, i);
}
/** PropertiesChanged of interfaces under `i` on objects under `p`. */
inline std::string propertiesChangedNamespace(std::string_view p,
                                              std::string_view i)
{
    return type::signal() + path_namespace(p) + member("PropertiesChanged") +
           interface("org.freedesktop.DBus.Properties") + arg0namespace(i);
}

} // namespace rules
} // namespace match

} // namespace bus
} // namespace sdbusplus
