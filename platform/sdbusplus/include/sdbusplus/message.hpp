// A reference-counted handle on an sd-bus message, with typed append and
// read.
#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdint>
#include <sdbusplus/exception.hpp>
#include <sdbusplus/message/append.hpp>
#include <sdbusplus/message/native_types.hpp>
#include <sdbusplus/message/read.hpp>
#include <sdbusplus/message/types.hpp>
#include <tuple>
#include <type_traits>
#include <utility>

namespace sdbusplus
{

/** Timeouts of blocking calls; zero or none means sd-bus's default. */
using SdBusDuration = std::chrono::duration<uint64_t, std::micro>;

namespace message
{

namespace details
{
template <typename... T>
struct first_type
{
    using type = void;
};
template <typename T, typename... Rest>
struct first_type<T, Rest...>
{
    using type = T;
};
} // namespace details

class message
{
  public:
    /** Takes a reference of its own on `m`. */
    explicit message(sd_bus_message* m = nullptr) :
        _msg(m != nullptr ? sd_bus_message_ref(m) : nullptr)
    {
    }
    /** Adopts the caller's reference on `m`. */
    message(sd_bus_message* m, std::false_type) noexcept : _msg(m)
    {
    }

    message(const message& other) :
        _msg(other._msg != nullptr ? sd_bus_message_ref(other._msg) : nullptr)
    {
    }
    message(message&& other) noexcept : _msg(std::exchange(other._msg, nullptr))
    {
    }
    message& operator=(const message& other)
    {
        if (this != &other)
        {
            message copy(other);
            std::swap(_msg, copy._msg);
        }
        return *this;
    }
    message& operator=(message&& other) noexcept
    {
        if (this != &other)
        {
            reset();
            _msg = std::exchange(other._msg, nullptr);
        }
        return *this;
    }
    ~message()
    {
        reset();
    }

    explicit operator bool() const noexcept
    {
        return _msg != nullptr;
    }

    sd_bus_message* get() const noexcept
    {
        return _msg;
    }

    /** Appends each argument, its D-Bus type following from its C++ type.
     *  Never throws: a value sd-bus refuses makes the message fail when it
     *  is sent. */
    template <typename... Args>
    void append(Args&&... args)
    {
        details::append(_msg, args...);
    }

    /** Reads into each argument in order.  Throws SdBusError when the
     *  message holds something else. */
    template <typename... Args>
    void read(Args&&... args)
    {
        details::read(_msg, args...);
    }

    /** Reads and returns: nothing for no types (or void), a T for one,
     *  a std::tuple for several (read one after the other, not as a
     *  struct). */
    template <typename... Args>
    auto unpack()
    {
        using First = typename details::first_type<Args...>::type;
        if constexpr (sizeof...(Args) == 0 ||
                      (sizeof...(Args) == 1 && std::is_void_v<First>))
        {
            return;
        }
        else if constexpr (sizeof...(Args) == 1)
        {
            First value{};
            read(value);
            return value;
        }
        else
        {
            std::tuple<Args...> values{};
            std::apply([this](auto&... v) { read(v...); }, values);
            return values;
        }
    }

    const char* get_path() const noexcept
    {
        return sd_bus_message_get_path(_msg);
    }
    const char* get_member() const noexcept
    {
        return sd_bus_message_get_member(_msg);
    }
    /** The errno an error reply maps to; 0 for anything else. */
    int get_errno() const noexcept
    {
        return sd_bus_message_get_errno(_msg);
    }

    /** The reply to this method call: fill it, send it with
     *  method_return(). */
    message new_method_return();

    /** Sends this message (a reply built above) on its bus. */
    void method_return();

  private:
    sd_bus_message* _msg = nullptr;

    void reset() noexcept
    {
        if (_msg != nullptr)
        {
            sd_bus_message_unref(_msg);
            _msg = nullptr;
        }
    }
};

} // namespace message

using message_t = message::message;

} // namespace sdbusplus
