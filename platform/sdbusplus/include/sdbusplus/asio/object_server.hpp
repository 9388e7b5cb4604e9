// Serving objects on an asio connection: interfaces whose methods are C++
// callables, the D-Bus signature following from their parameter and return
// types.
#pragma once

#include <systemd/sd-bus.h>

#include <boost/asio/detached.hpp>
#include <boost/asio/spawn.hpp>
#include <boost/callable_traits.hpp>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <sdbusplus/asio/connection.hpp>
#include <sdbusplus/exception.hpp>
#include <sdbusplus/message.hpp>
#include <sdbusplus/message/types.hpp>
#include <sdbusplus/server/manager.hpp>
#include <string>
#include <tuple>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <vector>

namespace sdbusplus
{
namespace asio
{
namespace details
{

/** How a method handler is called: a yield_context first (the method runs
 *  in a coroutine of its own), then the D-Bus arguments; what it returns
 *  is the one reply value. */
template <typename Handler>
struct method_traits
{
    using params = boost::callable_traits::args_t<std::decay_t<Handler>>;
    using decayed = typename decay_tuple<params>::type;

    static constexpr bool takes_yield = [] {
        if constexpr (std::tuple_size_v < params >> 0)
        {
            return std::is_same_v<std::tuple_element_t<0, decayed>,
                                  boost::asio::yield_context>;
        }
        else
        {
            return false;
        }
    }();

    using input_params =
        typename strip_first<takes_yield ? 1 : 0, params>::type;
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
 *  description, anything else with EIO. */
void reply_with_exception(message_t& call, std::exception_ptr error) noexcept;

/** Sends the method return for `call`, with `value` as its one value.
 *  Nothing is sent when the caller wants no reply. */
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
template <typename Handler>
void run_method(Handler& handler, message_t& call,
                boost::asio::yield_context yield)
{
    using traits = method_traits<Handler>;
    using inputs_t = typename traits::inputs;
    using P = typename traits::input_params;
    inputs_t inputs{};
    std::apply([&call](auto&... v) { call.read(v...); }, inputs);

    auto invoke = [&]<std::size_t... I>(std::index_sequence<I...>)
    {
        return handler(yield, std::forward<std::tuple_element_t<I, P>>(
                                  std::get<I>(inputs))...);
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

    /** Adds a method; call before initialize().  The handler takes a
     *  boost::asio::yield_context first and runs in a coroutine spawned for
     *  each call, replying when it returns, so it may suspend.  An
     *  exception leaving the handler becomes an error reply. */
    template <typename CallbackType>
    bool register_method(const std::string& name, CallbackType&& handler)
    {
        using traits = details::method_traits<CallbackType>;
        static_assert(traits::takes_yield,
                      "method handlers take a yield_context first");
        if (initialized_)
        {
            return false;
        }
        auto h = std::make_shared<std::decay_t<CallbackType>>(
            std::forward<CallbackType>(handler));
        std::function<void(message_t&)> call = [h, conn = conn_](message_t& m) {
            boost::asio::spawn(
                conn->get_io_context(),
                [h, m](boost::asio::yield_context yield) mutable {
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
                        details::reply_with_exception(m,
                                                      std::current_exception());
                    }
                },
                boost::asio::detached);
        };
        return add_method(
            name, details::signature_of_tuple<typename traits::inputs>::get(),
            details::result_signature<typename traits::result>(),
            std::move(call));
    }

    /** Puts the interface on the bus with everything registered so far and
     *  announces it (InterfacesAdded).  Only once.  Its methods are
     *  privileged: a caller with neither this process's user nor
     *  CAP_SYS_ADMIN gets AccessDenied. */
    bool initialize();

    /** How many callers (unique names) are known to be allowed; a caller
     *  is forgotten when it leaves the bus. */
    std::size_t known_callers() const noexcept
    {
        return known_callers_.size();
    }

  private:
    struct method_entry;

    std::shared_ptr<connection> conn_;
    std::string path_;
    std::string name_;
    bool initialized_ = false;
    std::vector<std::shared_ptr<method_entry>> methods_;
    std::vector<sd_bus_vtable> vtable_;
    sd_bus_slot* slot_ = nullptr;
    // Callers found allowed, by unique name: the bus never gives a unique
    // name to a second connection, and the user it reports for one is
    // fixed, so each caller costs the bus daemon one question, not one per
    // call.  left_slot_ watches for them leaving.
    std::unordered_set<std::string> known_callers_;
    sd_bus_slot* left_slot_ = nullptr;

    bool add_method(const std::string& name, std::string signature,
                    std::string result, std::function<void(message_t&)> call);
    std::shared_ptr<method_entry> find_method(const char* member);

    static int on_method(sd_bus_message* m, void* userdata,
                         sd_bus_error* error) noexcept;
    // > 0 when the caller of `m` may call, 0 when not, < 0 on failure.
    int check_caller(sd_bus_message* m) noexcept;
    static int on_name_owner_changed(sd_bus_message* m, void* userdata,
                                     sd_bus_error* error) noexcept;
};

class object_server
{
  public:
    /** Serves objects on `conn`; unless skipped, an ObjectManager at "/"
     *  announces the interfaces added and removed. */
    explicit object_server(const std::shared_ptr<connection>& conn,
                           bool skipManager = false);

    /** A new interface at `path`, kept as long as the server; register its
     *  methods, then initialize() it. */
    std::shared_ptr<dbus_interface> add_interface(const std::string& path,
                                                  const std::string& name);

    /** An ObjectManager at `path`. */
    void add_manager(const std::string& path);

  private:
    std::shared_ptr<connection> conn_;
    std::vector<std::shared_ptr<dbus_interface>> interfaces_;
    std::vector<server::manager_t> managers_;
};

} // namespace asio
} // namespace sdbusplus
