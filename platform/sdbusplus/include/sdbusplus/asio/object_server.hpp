// Serving objects on an asio connection: interfaces whose methods are C++
// callables (the D-Bus signature follows from their parameter and return
// types) and whose properties are C++ values.
#pragma once

#include <sdbusplus/asio/connection.hpp>
#include <sdbusplus/exception.hpp>
#include <sdbusplus/message.hpp>
#include <sdbusplus/message/types.hpp>
#include <sdbusplus/server/manager.hpp>

#include <boost/asio/detached.hpp>
#include <boost/asio/spawn.hpp>
#include <boost/callable_traits.hpp>

#include <systemd/sd-bus.h>

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

namespace sdbusplus
{
namespace asio
{

enum class PropertyPermission
{
    readOnly,
    readWrite
};

namespace details
{

/** How a method handler is called: an optional yield_context first (the
 *  method then runs in a coroutine of its own), an optional message_t
 *  next, then the D-Bus arguments; what it returns is the one reply
 *  value. */
template <typename Handler>
struct method_traits
{
    using params = boost::callable_traits::args_t<std::decay_t<Handler>>;
    using decayed = typename decay_tuple<params>::type;
    static constexpr std::size_t arity = std::tuple_size_v<params>;

    template <std::size_t I, typename T>
    static constexpr bool param_is()
    {
        if constexpr (I < arity)
        {
            return std::is_same_v<std::tuple_element_t<I, decayed>, T>;
        }
        else
        {
            return false;
        }
    }

    static constexpr bool takes_yield =
        param_is<0, boost::asio::yield_context>();
    static constexpr bool takes_message = param_is < takes_yield ? 1 : 0,
                          message_t > ();
    static constexpr std::size_t special =
        (takes_yield ? 1 : 0) + (takes_message ? 1 : 0);

    using input_params = typename strip_first<special, params>::type;
    using inputs = typename decay_tuple<input_params>::type;
    using result = std::decay_t<
        boost::callable_traits::return_type_t<std::decay_t<Handler>>>;
};

template <typename Tuple>
struct signature_of_tuple;
template <typename... T>
struct signature_of_tuple<std::tuple<T...>>
{
    static std::string get()
    {
        return std::string(message::types::signature_view<T...>());
    }
};

template <typename T>
std::string result_signature()
{
    if constexpr (std::is_void_v<T>)
    {
        return "";
    }
    else
    {
        return std::string(message::types::signature_view<T>());
    }
}

/** Answers `call` with the error that `error` stands for: an SdBusError
 *  with its own error, another sdbusplus exception with its name and
 *  description, anything else with EIO.  Nothing is sent when the caller
 *  wants no reply. */
void reply_with_exception(message_t& call, std::exception_ptr error) noexcept;

/** Sends the method return for `call`, with `value` as its one value. */
template <typename Result>
void reply_with(message_t& call, const Result& value)
{
    if (sd_bus_message_get_expect_reply(call.get()) <= 0)
    {
        return;
    }
    auto reply = call.new_method_return();
    reply.append(value);
    reply.method_return();
}

void reply_empty(message_t& call);

/** Reads the arguments, calls the handler and replies.  Throws what the
 *  handler or the reads throw. */
template <typename Handler, typename... Leading>
void run_method(Handler& handler, message_t& call, Leading&&... leading)
{
    using traits = method_traits<Handler>;
    using inputs_t = typename traits::inputs;
    using P = typename traits::input_params;
    inputs_t inputs{};
    std::apply([&call](auto&... v) { call.read(v...); }, inputs);

    auto invoke = [&]<std::size_t... I>(std::index_sequence<I...>)
    {
        if constexpr (traits::takes_message)
        {
            return handler(std::forward<Leading>(leading)..., call,
                           std::forward<std::tuple_element_t<I, P>>(
                               std::get<I>(inputs))...);
        }
        else
        {
            return handler(std::forward<Leading>(leading)...,
                           std::forward<std::tuple_element_t<I, P>>(
                               std::get<I>(inputs))...);
        }
    };
    constexpr auto indices =
        std::make_index_sequence<std::tuple_size_v<inputs_t>>{};
    if constexpr (std::is_void_v<typename traits::result>)
    {
        invoke(indices);
        reply_empty(call);
    }
    else
    {
        auto result = invoke(indices);
        reply_with(call, result);
    }
}

} // namespace details

class dbus_interface
{
  public:
    dbus_interface(std::shared_ptr<connection> conn, const std::string& path,
                   const std::string& name);
    dbus_interface(const dbus_interface&) = delete;
    dbus_interface& operator=(const dbus_interface&) = delete;
    dbus_interface(dbus_interface&&) = delete;
    dbus_interface& operator=(dbus_interface&&) = delete;
    /** Takes the interface off the bus (announcing InterfacesRemoved). */
    ~dbus_interface();

    /** Adds a method; call before initialize().  A handler that takes a
     *  boost::asio::yield_context first runs in a coroutine spawned for
     *  each call and replies when it returns, so it may suspend.  An
     *  exception leaving the handler becomes an error reply. */
    template <typename CallbackType>
    bool register_method(const std::string& name, CallbackType&& handler)
    {
        using traits = details::method_traits<CallbackType>;
        if (initialized_)
        {
            return false;
        }
        auto h = std::make_shared<std::decay_t<CallbackType>>(
            std::forward<CallbackType>(handler));
        std::function<void(message_t&)> call;
        if constexpr (traits::takes_yield)
        {
            call = [h, conn = conn_](message_t& m)
            {
                boost::asio::spawn(
                    conn->get_io_context(),
                    [h, m](boost::asio::yield_context yield) mutable
                    {
                        try
                        {
                            details::run_method(*h, m, yield);
                        }
                        catch (const boost::context::detail::forced_unwind&)
                        {
                            throw;
                        }
                        catch (...)
                        {
                            details::reply_with_exception(
                                m, std::current_exception());
                        }
                    },
                    boost::asio::detached);
            };
        }
        else
        {
            call = [h](message_t& m)
            {
                try
                {
                    details::run_method(*h, m);
                }
                catch (...)
                {
                    details::reply_with_exception(m, std::current_exception());
                }
            };
        }
        return add_method(
            name, details::signature_of_tuple<typename traits::inputs>::get(),
            details::result_signature<typename traits::result>(),
            std::move(call));
    }

    /** Adds a property holding `property`; call before initialize(). */
    template <typename PropertyType>
    bool
    register_property(const std::string& name, const PropertyType& property,
                      PropertyPermission access = PropertyPermission::readOnly)
    {
        using T = std::decay_t<PropertyType>;
        auto value = std::make_shared<T>(property);
        std::function<bool(message_t&)> set;
        if (access == PropertyPermission::readWrite)
        {
            set = [value](message_t& m)
            {
                T v{};
                m.read(v);
                if (v == *value)
                {
                    return false;
                }
                *value = std::move(v);
                return true;
            };
        }
        return add_property<T>(name, value, std::move(set));
    }

    /** Adds a writable property; a Set calls `setter(const T& requested,
     *  T& current)`, which updates `current` and answers whether it
     *  changed (PropertiesChanged is sent then).  An exception from it
     *  fails the Set call. */
    template <typename PropertyType, typename CallbackTypeSet>
    requires(
        !std::is_same_v<
            std::decay_t<CallbackTypeSet>,
            PropertyPermission>) bool register_property(const std::string& name,
                                                        const PropertyType&
                                                            property,
                                                        CallbackTypeSet&&
                                                            setter)
    {
        using T = std::decay_t<PropertyType>;
        auto value = std::make_shared<T>(property);
        auto s = std::make_shared<std::decay_t<CallbackTypeSet>>(
            std::forward<CallbackTypeSet>(setter));
        std::function<bool(message_t&)> set = [value, s](message_t& m)
        {
            T v{};
            m.read(v);
            return static_cast<bool>((*s)(v, *value));
        };
        return add_property<T>(name, value, std::move(set));
    }

    /** As above, with reads answered by `getter(const T& current)`. */
    template <typename PropertyType, typename CallbackTypeSet,
              typename CallbackTypeGet>
    bool register_property(const std::string& name,
                           const PropertyType& property,
                           CallbackTypeSet&& setter, CallbackTypeGet&& getter)
    {
        using T = std::decay_t<PropertyType>;
        auto value = std::make_shared<T>(property);
        auto s = std::make_shared<std::decay_t<CallbackTypeSet>>(
            std::forward<CallbackTypeSet>(setter));
        auto g = std::make_shared<std::decay_t<CallbackTypeGet>>(
            std::forward<CallbackTypeGet>(getter));
        std::function<bool(message_t&)> set = [value, s](message_t& m)
        {
            T v{};
            m.read(v);
            return static_cast<bool>((*s)(v, *value));
        };
        std::function<void(message_t&)> get = [value, g](message_t& m)
        { m.append(static_cast<T>((*g)(*value))); };
        return add_property_entry(
            name, std::string(message::types::signature_view<T>()), &typeid(T),
            value, std::move(get), std::move(set));
    }

    /** Changes a property's value; PropertiesChanged is sent when it
     *  differs and the interface is on the bus.  False when there is no
     *  such property or it has another type. */
    template <typename PropertyType>
    bool set_property(const std::string& name, const PropertyType& value)
    {
        using T = std::decay_t<PropertyType>;
        auto* current = static_cast<T*>(find_property_value(name, typeid(T)));
        if (current == nullptr)
        {
            return false;
        }
        if (!(*current == value))
        {
            *current = value;
            if (initialized_)
            {
                signal_property(name);
            }
        }
        return true;
    }

    /** Declares a signal (for introspection); call before initialize(). */
    template <typename... SignalSignature>
    bool register_signal(const std::string& name)
    {
        return add_signal(name,
                          std::string(message::types::signature_view<
                                      std::decay_t<SignalSignature>...>()));
    }

    /** Puts the interface on the bus with everything registered so far and
     *  announces it (InterfacesAdded, and PropertiesChanged for every
     *  property unless skipped).  Only once. */
    bool initialize(bool skipPropertyChangedSignal = false);
    bool is_initialized() const noexcept
    {
        return initialized_;
    }

    /** Sends PropertiesChanged for `name`. */
    void signal_property(const std::string& name);

    /** A signal of this interface from this object, to fill and send. */
    message_t new_signal(const char* member);

    const std::string& get_object_path() const noexcept
    {
        return path_;
    }
    const std::string& get_interface_name() const noexcept
    {
        return name_;
    }

  private:
    struct method_entry;
    struct property_entry;
    struct signal_entry;

    std::shared_ptr<connection> conn_;
    std::string path_;
    std::string name_;
    bool initialized_ = false;
    std::vector<std::shared_ptr<method_entry>> methods_;
    std::vector<std::shared_ptr<property_entry>> properties_;
    std::vector<std::unique_ptr<signal_entry>> signals_;
    std::vector<sd_bus_vtable> vtable_;
    sd_bus_slot* slot_ = nullptr;

    bool add_method(const std::string& name, std::string signature,
                    std::string result, std::function<void(message_t&)> call);

    template <typename T>
    bool add_property(const std::string& name, std::shared_ptr<T> value,
                      std::function<bool(message_t&)> set)
    {
        std::function<void(message_t&)> get = [value](message_t& m)
        { m.append(*value); };
        return add_property_entry(
            name, std::string(message::types::signature_view<T>()), &typeid(T),
            std::move(value), std::move(get), std::move(set));
    }

    bool add_property_entry(const std::string& name, std::string signature,
                            const std::type_info* type,
                            std::shared_ptr<void> value,
                            std::function<void(message_t&)> get,
                            std::function<bool(message_t&)> set);
    void* find_property_value(const std::string& name,
                              const std::type_info& type);
    bool add_signal(const std::string& name, std::string signature);

    std::shared_ptr<method_entry> find_method(const char* member);
    std::shared_ptr<property_entry> find_property(const char* name);

    static int on_method(sd_bus_message* m, void* userdata,
                         sd_bus_error* error) noexcept;
    static int on_get(sd_bus* bus, const char* path, const char* interface,
                      const char* property, sd_bus_message* reply,
                      void* userdata, sd_bus_error* error) noexcept;
    static int on_set(sd_bus* bus, const char* path, const char* interface,
                      const char* property, sd_bus_message* value,
                      void* userdata, sd_bus_error* error) noexcept;
};

class object_server
{
  public:
    /** Serves objects on `conn`; unless skipped, an ObjectManager at "/"
     *  announces the interfaces added and removed. */
    explicit object_server(const std::shared_ptr<connection>& conn,
                           bool skipManager = false);

    /** A new interface at `path`, kept until remove_interface(); register
     *  its members, then initialize() it. */
    std::shared_ptr<dbus_interface> add_interface(const std::string& path,
                                                  const std::string& name);
    /** As add_interface(), owned by the caller alone. */
    std::unique_ptr<dbus_interface>
    add_unique_interface(const std::string& path, const std::string& name);

    /** Drops the server's hold on `iface`: it leaves the bus when no one
     *  else holds it.  False when the server did not hold it. */
    bool remove_interface(const std::shared_ptr<dbus_interface>& iface);

    /** An ObjectManager at `path`. */
    void add_manager(const std::string& path);

  private:
    std::shared_ptr<connection> conn_;
    std::vector<std::shared_ptr<dbus_interface>> interfaces_;
    std::vector<server::manager_t> managers_;
};

} // namespace asio
} // namespace sdbusplus
