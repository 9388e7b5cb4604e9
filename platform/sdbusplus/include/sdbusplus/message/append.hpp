// Appending C++ values to an sd-bus message.  Return codes of sd-bus are
// deliberately not checked: a value sd-bus rejects (an invalid object path,
// say) leaves the message in an error state, and sending it then fails.
#pragma once

#include <systemd/sd-bus.h>

#include <cstring>
#include <sdbusplus/message/types.hpp>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace sdbusplus
{
namespace message
{
namespace details
{

using types::details::downcast_t;

template <typename T>
inline constexpr char basic_code_v = types::type_id_nonull<T>()[0];

/** Containers whose elements sit contiguously in memory and are plain
 *  fixed-size D-Bus values: these go in with one copy. */
template <typename T, typename = void>
struct is_trivial_array : std::false_type
{
};

template <typename T>
struct is_trivial_array<T, std::void_t<decltype(std::data(std::declval<T&>())),
                                       decltype(std::size(std::declval<T&>()))>>
    : std::bool_constant<std::is_arithmetic_v<typename T::value_type> &&
                         !std::is_same_v<typename T::value_type, bool> &&
                         types::details::is_container_v<T>>
{
};

template <typename T>
void append_single(sd_bus_message* m, const T& value);

template <typename K, typename V>
void append_compound(sd_bus_message* m, const std::pair<K, V>& value);
template <typename... T>
void append_compound(sd_bus_message* m, const std::tuple<T...>& value);
template <typename... T>
void append_compound(sd_bus_message* m, const std::variant<T...>& value);

template <typename Tuple, std::size_t... I>
void append_tuple_elements(sd_bus_message* m, const Tuple& t,
                           std::index_sequence<I...>)
{
    (append_single(m, std::get<I>(t)), ...);
}

template <typename T>
void append_single(sd_bus_message* m, const T& value)
{
    using D = downcast_t<T>;

    if constexpr (std::is_same_v<D, bool>)
    {
        // D-Bus booleans are 32 bits wide.
        int v = value ? 1 : 0;
        sd_bus_message_append_basic(m, 'b', &v);
    }
    else if constexpr (std::is_arithmetic_v<D>)
    {
        D v = value;
        sd_bus_message_append_basic(m, basic_code_v<D>, &v);
    }
    else if constexpr (std::is_same_v<D, const char*> ||
                       std::is_same_v<D, char*>)
    {
        sd_bus_message_append_basic(m, 's', value);
    }
    else if constexpr (std::is_same_v<D, std::string>)
    {
        sd_bus_message_append_basic(m, 's', value.c_str());
    }
    else if constexpr (std::is_same_v<D, std::string_view>)
    {
        // Not null-terminated: reserve the space in the message instead of
        // making a temporary copy.
        char* space = nullptr;
        if (sd_bus_message_append_string_space(m, value.size(), &space) >= 0)
        {
            std::memcpy(space, value.data(), value.size());
        }
    }
    else if constexpr (std::is_same_v<D, object_path>)
    {
        sd_bus_message_append_basic(m, 'o', value.str.c_str());
    }
    else if constexpr (is_trivial_array<D>::value)
    {
        using E = typename D::value_type;
        sd_bus_message_append_array(m, basic_code_v<E>, std::data(value),
                                    std::size(value) * sizeof(E));
    }
    else if constexpr (types::details::is_container_v<D>)
    {
        using E = typename D::value_type;
        sd_bus_message_open_container(m, 'a', types::signature_c_str<E>());
        for (const auto& element : value)
        {
            append_single(m, element);
        }
        sd_bus_message_close_container(m);
    }
    else
    {
        append_compound(m, value);
    }
}

template <typename K, typename V>
void append_compound(sd_bus_message* m, const std::pair<K, V>& value)
{
    sd_bus_message_open_container(
        m, 'e', types::signature_c_str<downcast_t<K>, downcast_t<V>>());
    append_single(m, value.first);
    append_single(m, value.second);
    sd_bus_message_close_container(m);
}

template <typename... T>
void append_compound(sd_bus_message* m, const std::tuple<T...>& value)
{
    sd_bus_message_open_container(m, 'r', types::signature_c_str<T...>());
    append_tuple_elements(m, value, std::index_sequence_for<T...>{});
    sd_bus_message_close_container(m);
}

template <typename... T>
void append_compound(sd_bus_message* m, const std::variant<T...>& value)
{
    std::visit(
        [m](const auto& held) {
            using H = downcast_t<decltype(held)>;
            // An empty alternative has no D-Bus value to carry.
            if constexpr (!std::is_same_v<H, std::monostate>)
            {
                sd_bus_message_open_container(m, 'v',
                                              types::signature_c_str<H>());
                append_single(m, held);
                sd_bus_message_close_container(m);
            }
        },
        value);
}

template <typename... Args>
void append([[maybe_unused]] sd_bus_message* m, const Args&... args)
{
    (append_single(m, args), ...);
}

} // namespace details
} // namespace message
} // namespace sdbusplus
