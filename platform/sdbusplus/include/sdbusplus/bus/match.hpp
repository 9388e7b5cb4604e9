// Signal matches: a callback run for every message that fits a match rule,
// and builders for the rule strings.
#pragma once

#include <systemd/sd-bus.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <sdbusplus/bus.hpp>
#include <sdbusplus/message.hpp>
#include <string>
#include <string_view>

namespace sdbusplus
{
namespace bus
{

/** A match rule installed on a bus for as long as this object lives.  The
 *  callback runs while the bus is processed (io.run() for an asio
 *  connection).  An exception escaping it ends the process: it would
 *  otherwise have to unwind through sd-bus. */
struct match_t
{
    using callback_t = std::function<void(sdbusplus::message_t&)>;

    /** Throws SdBusError(-r, "sd_bus_match") when the rule cannot be
     *  added. */
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
inline std::string argN(std::size_t n, std::string_view s)
{
    return details::keyValue("arg" + std::to_string(n), s);
}

inline std::string propertiesChanged(std::string_view p, std::string_view i)
{
    return type::signal() + path(p) + member("PropertiesChanged") +
           interface("org.freedesktop.DBus.Properties") + argN(0, i);
}

} // namespace rules
} // namespace match

} // namespace bus
} // namespace sdbusplus
