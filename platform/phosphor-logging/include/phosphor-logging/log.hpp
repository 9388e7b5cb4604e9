// Subset of phosphor-logging's legacy front end: log<level>(msg, entry(...)...)
// sends one native journal entry with PRIORITY, MESSAGE and the given fields.
#pragma once

#include <systemd/sd-journal.h>

#include <tuple>
#include <type_traits>

namespace phosphor::logging
{

enum class level
{
    EMERG = 0,
    ALERT = 1,
    CRIT = 2,
    ERR = 3,
    WARNING = 4,
    NOTICE = 5,
    INFO = 6,
    DEBUG = 7,
};

namespace details
{

template <typename T>
constexpr void checkArg()
{
    using D = std::decay_t<T>;
    static_assert(std::is_integral_v<D> || std::is_enum_v<D> ||
                      std::is_floating_point_v<D> || std::is_pointer_v<D>,
                  "bad argument type: use string.c_str() if needed");
}

template <typename... Args>
void send(Args... args)
{
    sd_journal_send(args..., nullptr);
}

} // namespace details

// A journal field: a printf format whose text before '=' names the field,
// and its arguments.
template <typename Arg, typename... Args>
constexpr auto entry(Arg&& fmt, Args&&... args)
{
    static_assert(std::is_same_v<std::decay_t<Arg>, const char*> ||
                      std::is_same_v<std::decay_t<Arg>, char*>,
                  "Field format must be a C-string");
    (details::checkArg<Args>(), ...);
    return std::make_tuple(static_cast<const char*>(fmt),
                           std::forward<Args>(args)...);
}

template <level L, typename Msg, typename... Entry>
void log(Msg msg, Entry... e)
{
    static_assert(std::is_same_v<std::decay_t<Msg>, const char*> ||
                      std::is_same_v<std::decay_t<Msg>, char*>,
                  "First parameter must be a C-string.");
    auto all = std::tuple_cat(std::make_tuple("PRIORITY=%d",
                                              static_cast<int>(L), "MESSAGE=%s",
                                              static_cast<const char*>(msg)),
                              e...);
    std::apply([](auto... args) { details::send(args...); }, all);
}

} // namespace phosphor::logging
