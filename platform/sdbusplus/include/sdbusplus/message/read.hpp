// Reading C++ values out of an sd-bus message.  Unlike appending, every
// failure throws SdBusError: a value of another type, or no value at all
// where one was expected.
#pragma once

#include <systemd/sd-bus.h>

#include <cerrno>
#include <sdbusplus/exception.hpp>
#include <sdbusplus/message/types.hpp>
#include <string>
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

/** Throws SdBusError for a failed read: `r` is the sd-bus result; 0 means
 *  the message (or container) had nothing left where a value was
 *  expected. */
[[noreturn]] void throw_read_error(int r, const char* what);

template <typename T>
void read_single(sd_bus_message* m, T& value);

template <typename K, typename V>
void read_compound(sd_bus_message* m, std::pair<K, V>& value);
template <typename... T>
void read_compound(sd_bus_message* m, std::tuple<T...>& value);
template <typename... T>
void read_compound(sd_bus_message* m, std::variant<T...>& value);

inline void read_basic(sd_bus_message* m, char code, void* out,
                       const char* what)
{
    int r = sd_bus_message_read_basic(m, code, out);
    if (r <= 0)
    {
        throw_read_error(r, what);
    }
}

inline void enter_container(sd_bus_message* m, char type, const char* contents,
                            const char* what)
{
    int r = sd_bus_message_enter_container(m, type, contents);
    if (r <= 0)
    {
        throw_read_error(r, what);
    }
}

inline void exit_container(sd_bus_message* m, const char* what)
{
    int r = sd_bus_message_exit_container(m);
    if (r < 0)
    {
        throw_read_error(r, what);
    }
}

template <typename T, typename = void>
struct has_emplace_back : std::false_type
{
};
template <typename T>
struct has_emplace_back<T, std::void_t<decltype(std::declval<T&>().emplace_back(
                               std::declval<typename T::value_type>()))>>
    : std::true_type
{
};

template <typename T, typename = void>
struct is_map_like : std::false_type
{
};
template <typename T>
struct is_map_like<T,
                   std::void_t<typename T::key_type, typename T::mapped_type>>
    : std::true_type
{
};

/** What one element of container T is read as: maps are read entry by
 *  entry as (key, value) pairs with a mutable key. */
template <typename T, typename = void>
struct element_of
{
    using type = typename T::value_type;
};
template <typename T>
struct element_of<T, std::enable_if_t<is_map_like<T>::value>>
{
    using type = std::pair<typename T::key_type, typename T::mapped_type>;
};

template <typename T>
void read_single(sd_bus_message* m, T& value)
{
    using D = types::details::downcast_t<T>;
    static_assert(std::is_same_v<D, T>,
                  "read into a plain (non-const, non-array) value");

    if constexpr (std::is_same_v<D, bool>)
    {
        int v = 0;
        read_basic(m, 'b', &v, "sd_bus_message_read_basic fundamental");
        value = v != 0;
    }
    else if constexpr (std::is_arithmetic_v<D>)
    {
        constexpr char code = types::type_id_nonull<D>()[0];
        D v{};
        read_basic(m, code, &v, "sd_bus_message_read_basic fundamental");
        value = v;
    }
    else if constexpr (std::is_same_v<D, std::string>)
    {
        const char* s = nullptr;
        read_basic(m, 's', &s, "sd_bus_message_read_basic string");
        value = s;
    }
    else if constexpr (std::is_same_v<D, object_path>)
    {
        const char* s = nullptr;
        read_basic(m, 'o', &s, "sd_bus_message_read_basic object_path");
        value.str = s;
    }
    else if constexpr (types::details::is_string_like_v<D>)
    {
        static_assert(types::details::always_false<D>,
                      "read strings into std::string: a view would point "
                      "into the message");
    }
    else if constexpr (types::details::is_container_v<D>)
    {
        using E = typename D::value_type;
        if constexpr (std::is_same_v<D, std::vector<E>> &&
                      std::is_arithmetic_v<E> && !std::is_same_v<E, bool>)
        {
            // Fixed-size elements: one copy out of the message.
            constexpr char code = types::type_id_nonull<E>()[0];
            const void* data = nullptr;
            size_t size = 0;
            int r = sd_bus_message_read_array(m, code, &data, &size);
            if (r <= 0)
            {
                throw_read_error(r, "sd_bus_message_read_array");
            }
            const E* first = static_cast<const E*>(data);
            value.assign(first, first + size / sizeof(E));
        }
        else
        {
            using R = typename element_of<D>::type;
            enter_container(m, 'a', types::signature_c_str<R>(),
                            "sd_bus_message_enter_container array");
            value.clear();
            int r = 0;
            while ((r = sd_bus_message_at_end(m, false)) == 0)
            {
                R element{};
                read_single(m, element);
                if constexpr (has_emplace_back<D>::value)
                {
                    value.emplace_back(std::move(element));
                }
                else
                {
                    value.emplace(std::move(element));
                }
            }
            if (r < 0)
            {
                throw_read_error(r, "sd_bus_message_at_end array");
            }
            exit_container(m, "sd_bus_message_exit_container array");
        }
    }
    else
    {
        read_compound(m, value);
    }
}

template <typename K, typename V>
void read_compound(sd_bus_message* m, std::pair<K, V>& value)
{
    enter_container(m, 'e', types::signature_c_str<K, V>(),
                    "sd_bus_message_enter_container pair");
    read_single(m, value.first);
    read_single(m, value.second);
    exit_container(m, "sd_bus_message_exit_container pair");
}

template <typename... T>
void read_compound(sd_bus_message* m, std::tuple<T...>& value)
{
    enter_container(m, 'r', types::signature_c_str<T...>(),
                    "sd_bus_message_enter_container tuple");
    std::apply([m](auto&... element) { (read_single(m, element), ...); },
               value);
    exit_container(m, "sd_bus_message_exit_container tuple");
}

/** Reads the variant's content into alternative A when its signature is
 *  exactly A's; answers whether it did. */
template <typename A, typename Variant>
bool read_alternative(sd_bus_message* m, Variant& value)
{
    if constexpr (std::is_same_v<A, std::monostate>)
    {
        return false;
    }
    else
    {
        const char* sig = types::signature_c_str<A>();
        int r = sd_bus_message_verify_type(m, 'v', sig);
        if (r < 0)
        {
            throw_read_error(r, "sd_bus_message_verify_type variant");
        }
        if (r == 0)
        {
            return false;
        }
        enter_container(m, 'v', sig, "sd_bus_message_enter_container variant");
        A held{};
        read_single(m, held);
        exit_container(m, "sd_bus_message_exit_container variant");
        value = std::move(held);
        return true;
    }
}

template <typename... T>
void read_compound(sd_bus_message* m, std::variant<T...>& value)
{
    char type = 0;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(m, &type, &contents);
    if (r <= 0)
    {
        throw_read_error(r, "sd_bus_message_peek_type variant");
    }
    if ((read_alternative<T>(m, value) || ...))
    {
        return;
    }
    // No alternative has the contained type: the value is skipped and the
    // variant is left holding its first alternative, default-constructed.
    // A std::monostate first alternative lets callers see that this
    // happened.
    r = sd_bus_message_skip(m, "v");
    if (r < 0)
    {
        throw_read_error(r, "sd_bus_message_skip variant");
    }
    value = std::variant<T...>{};
}

template <typename... Args>
void read([[maybe_unused]] sd_bus_message* m, Args&... args)
{
    (read_single(m, args), ...);
}

} // namespace details
} // namespace message
} // namespace sdbusplus
