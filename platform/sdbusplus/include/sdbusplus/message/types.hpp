// The D-Bus signature of a C++ type, computed at compile time.  Types with
// no D-Bus counterpart (char, int8_t, float, long long, std::optional,
// plain structs) fail to compile rather than guess.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <sdbusplus/message/native_types.hpp>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>

namespace sdbusplus
{
namespace message
{
namespace types
{
namespace details
{

template <typename T>
inline constexpr bool always_false = false;

template <std::size_t... N>
constexpr auto concat(const std::array<char, N>&... parts)
{
    std::array<char, (N + ... + 0)> out{};
    std::size_t pos = 0;
    auto add = [&out, &pos](const auto& part) {
        for (char c : part)
        {
            out[pos++] = c;
        }
    };
    (add(parts), ...);
    return out;
}

template <char... C>
struct chars
{
    static constexpr std::array<char, sizeof...(C)> value{C...};
};

/** Types sent as 's'. */
template <typename T>
inline constexpr bool is_string_like_v =
    std::is_same_v<T, std::string> || std::is_same_v<T, std::string_view> ||
    std::is_same_v<T, const char*> || std::is_same_v<T, char*>;

/** Forward-iterable containers other than strings: sent as arrays. */
template <typename T, typename = void>
struct is_container : std::false_type
{
};

template <typename T>
struct is_container<T, std::void_t<typename T::value_type,
                                   decltype(std::begin(std::declval<T&>())),
                                   decltype(std::end(std::declval<T&>()))>>
    : std::bool_constant<!is_string_like_v<T>>
{
};

template <typename T>
inline constexpr bool is_container_v = is_container<T>::value;

/** The type a value is looked up as: no cv, no reference, arrays and
 *  functions decayed (so char[N] is char*). */
template <typename T>
using downcast_t = std::decay_t<T>;

template <typename T, typename = void>
struct type_id_single
{
    static_assert(always_false<T>, "No D-Bus signature for this type");
};

#define SDBUSPLUS_BASIC_TYPE_ID(type, code)                                    \
    template <>                                                                \
    struct type_id_single<type, void> : chars<code>                            \
    {                                                                          \
    }

SDBUSPLUS_BASIC_TYPE_ID(bool, 'b');
SDBUSPLUS_BASIC_TYPE_ID(uint8_t, 'y');
SDBUSPLUS_BASIC_TYPE_ID(int16_t, 'n');
SDBUSPLUS_BASIC_TYPE_ID(uint16_t, 'q');
SDBUSPLUS_BASIC_TYPE_ID(int32_t, 'i');
SDBUSPLUS_BASIC_TYPE_ID(uint32_t, 'u');
SDBUSPLUS_BASIC_TYPE_ID(int64_t, 'x');
SDBUSPLUS_BASIC_TYPE_ID(uint64_t, 't');
SDBUSPLUS_BASIC_TYPE_ID(double, 'd');
SDBUSPLUS_BASIC_TYPE_ID(const char*, 's');
SDBUSPLUS_BASIC_TYPE_ID(char*, 's');
SDBUSPLUS_BASIC_TYPE_ID(std::string, 's');
SDBUSPLUS_BASIC_TYPE_ID(std::string_view, 's');
SDBUSPLUS_BASIC_TYPE_ID(object_path, 'o');

#undef SDBUSPLUS_BASIC_TYPE_ID

template <typename T>
constexpr auto type_id_of()
{
    return type_id_single<downcast_t<T>>::value;
}

template <typename T>
struct type_id_single<T, std::enable_if_t<is_container_v<T>>>
{
    static constexpr auto value =
        concat(chars<'a'>::value, type_id_of<typename T::value_type>());
};

template <typename K, typename V>
struct type_id_single<std::pair<K, V>, void>
{
    static constexpr auto value = concat(chars<'{'>::value, type_id_of<K>(),
                                         type_id_of<V>(), chars<'}'>::value);
};

template <typename... T>
struct type_id_single<std::tuple<T...>, void>
{
    static constexpr auto value =
        concat(chars<'('>::value, type_id_of<T>()..., chars<')'>::value);
};

template <typename... T>
struct type_id_single<std::variant<T...>, void> : chars<'v'>
{
};

/** Null-terminated signature storage with static lifetime, so `.data()`
 *  can be handed to sd-bus. */
template <typename... T>
struct signature_of
{
    static constexpr auto value =
        concat(type_id_of<T>()..., chars<'\0'>::value);
};

} // namespace details

/** The signature of Args, one after the other, without a terminator. */
template <typename... Args>
constexpr auto type_id_nonull()
{
    return details::concat(details::type_id_of<Args>()...);
}

/** The signature of Args as a C string with static lifetime. */
template <typename... Args>
constexpr const char* signature_c_str()
{
    return details::signature_of<Args...>::value.data();
}

/** The signature of Args as a string_view (no terminator included). */
template <typename... Args>
constexpr std::string_view signature_view()
{
    return std::string_view(details::signature_of<Args...>::value.data(),
                            details::signature_of<Args...>::value.size() - 1);
}

} // namespace types
} // namespace message
} // namespace sdbusplus
