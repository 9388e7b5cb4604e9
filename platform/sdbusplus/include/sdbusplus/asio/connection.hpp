// A bus connection driven by a Boost.Asio io_context: the bus fd and its
// timeout are watched by the context, so sd-bus callbacks (matches, method
// handlers, replies) run inside io.run(), and method calls can be made
// asynchronously with a callback or from a coroutine.
#pragma once

#include <systemd/sd-bus.h>

#include <boost/asio/async_result.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/spawn.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/callable_traits.hpp>
#include <boost/system/error_code.hpp>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <sdbusplus/bus.hpp>
#include <sdbusplus/exception.hpp>
#include <sdbusplus/message.hpp>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

namespace sdbusplus
{
namespace asio
{
namespace details
{

template <std::size_t N, typename Tuple>
struct strip_first;
template <typename... T>
struct strip_first<0, std::tuple<T...>>
{
    using type = std::tuple<T...>;
};
template <std::size_t N, typename First, typename... T>
requires(N > 0) struct strip_first<N, std::tuple<First, T...>>
{
    using type = typename strip_first<N - 1, std::tuple<T...>>::type;
};

template <typename Tuple>
struct decay_tuple;
template <typename... T>
struct decay_tuple<std::tuple<T...>>
{
    using type = std::tuple<std::decay_t<T>...>;
};

/** How a reply handler wants its arguments: (error_code [, message_t&],
 *  values read from the reply...). */
template <typename Handler>
struct reply_handler_traits
{
    using params = boost::callable_traits::args_t<std::decay_t<Handler>>;
    static constexpr std::size_t arity = std::tuple_size_v<params>;
    static_assert(arity >= 1, "a reply handler takes an error code first");
    static_assert(
        std::is_same_v<std::decay_t<std::tuple_element_t<0, params>>,
                       boost::system::error_code>,
        "the first parameter of a reply handler must be an error code");

    static constexpr bool takes_message = [] {
        if constexpr (arity > 1)
        {
            return std::is_same_v<std::decay_t<std::tuple_element_t<1, params>>,
                                  message_t>;
        }
        else
        {
            return false;
        }
    }();

    /** The declared types of the parameters filled from the reply. */
    using value_params =
        typename strip_first<takes_message ? 2 : 1, params>::type;
    using values = typename decay_tuple<value_params>::type;
};

/** Reads the reply into the handler's value parameters (unless `ec` is
 *  already set) and calls the handler exactly once.  A reply that does not
 *  read as those types gives invalid_argument and default values. */
template <typename Handler>
void invoke_reply_handler(Handler& handler, boost::system::error_code ec,
                          message_t& reply)
{
    using traits = reply_handler_traits<Handler>;
    using values_t = typename traits::values;
    values_t values{};
    if (!ec)
    {
        try
        {
            std::apply([&reply](auto&... v) { reply.read(v...); }, values);
        }
        catch (const std::exception&)
        {
            ec = boost::system::errc::make_error_code(
                boost::system::errc::invalid_argument);
            values = values_t{};
        }
    }
    [&]<std::size_t... I>(std::index_sequence<I...>)
    {
        using P = typename traits::value_params;
        if constexpr (traits::takes_message)
        {
            handler(ec, reply,
                    std::forward<std::tuple_element_t<I, P>>(
                        std::get<I>(values))...);
        }
        else
        {
            handler(ec, std::forward<std::tuple_element_t<I, P>>(
                            std::get<I>(values))...);
        }
    }
    (std::make_index_sequence<std::tuple_size_v<values_t>>{});
}

/** sd-bus reply trampoline.  An exception escaping the callback ends the
 *  process: it must not unwind through sd-bus. */
template <typename Callback>
int on_reply(sd_bus_message* m, void* userdata, sd_bus_error*) noexcept
{
    auto* callback = static_cast<Callback*>(userdata);
    message_t reply(m);
    boost::system::error_code ec(reply.get_errno(),
                                 boost::system::system_category());
    (*callback)(ec, reply);
    return 1;
}

template <typename Callback>
void destroy_callback(void* userdata) noexcept
{
    delete static_cast<Callback*>(userdata);
}

} // namespace details

class connection : public sdbusplus::bus_t
{
  public:
    explicit connection(boost::asio::io_context& io,
                        sdbusplus::bus_t&& bus = sdbusplus::bus::new_default());

    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;
    connection(connection&&) = delete;
    connection& operator=(connection&&) = delete;
    /** Stops watching the bus; the fd stays open (it belongs to sd-bus). */
    ~connection() override;

    boost::asio::io_context& get_io_context()
    {
        return io_;
    }

    /** Sends `m` and calls `callback(error_code, message_t& reply)` once,
     *  from io.run(), when the reply (or an error, or the timeout) arrives.
     *  `ec` is the errno the reply maps to; a send that fails at once gives
     *  its errno and an empty reply.  timeout 0 means the default. */
    template <typename Callback>
    void async_send(message_t& m, Callback&& callback, uint64_t timeout = 0)
    {
        using C = std::decay_t<Callback>;
        auto holder = std::make_unique<C>(std::forward<Callback>(callback));
        sd_bus_slot* slot = nullptr;
        int r = sd_bus_call_async(get(), &slot, m.get(), &details::on_reply<C>,
                                  holder.get(), timeout);
        if (r < 0)
        {
            boost::asio::post(io_, [h = std::move(holder), r]() mutable {
                message_t none;
                boost::system::error_code ec(-r,
                                             boost::system::system_category());
                (*h)(ec, none);
            });
            return;
        }
        // The bus keeps the pending call; it deletes the callback after
        // calling it, or when the connection goes away first, so the holder
        // lets go of it.
        sd_bus_slot_set_destroy_callback(slot, &details::destroy_callback<C>);
        static_cast<void>(holder.release());
        sd_bus_slot_set_floating(slot, 1);
        sd_bus_slot_unref(slot);
        arm();
    }

    /** From a coroutine: sends `m` and suspends until the reply.  With
     *  yield[ec] failures land in ec, otherwise they throw
     *  boost::system::system_error. */
    message_t async_send_yield(message_t& m, boost::asio::yield_context&& yield,
                               uint64_t timeout = 0)
    {
        return boost::asio::async_initiate<boost::asio::yield_context,
                                           void(boost::system::error_code,
                                                message_t)>(
            [this, &m, timeout](auto handler) {
                async_send(
                    m,
                    [handler = std::move(handler)](boost::system::error_code ec,
                                                   message_t& reply) mutable {
                        std::move(handler)(ec, reply);
                    },
                    timeout);
            },
            yield);
    }

    /** Calls a method and hands the result to `handler(error_code
     *  [, message_t& reply], values...)`: the values are read from the
     *  reply as the handler's parameter types.  The handler runs exactly
     *  once: later from io.run(), or before this returns when the call
     *  cannot even be built (an invalid path or name). */
    template <typename MessageHandler, typename... InputArgs>
    void async_method_call_timed(MessageHandler&& handler,
                                 const std::string& service,
                                 const std::string& objpath,
                                 const std::string& interf,
                                 const std::string& method, uint64_t timeout,
                                 const InputArgs&... a)
    {
        using H = std::decay_t<MessageHandler>;
        message_t m;
        try
        {
            m = new_method_call(service.c_str(), objpath.c_str(),
                                interf.c_str(), method.c_str());
        }
        catch (const exception::SdBusError& e)
        {
            H h(std::forward<MessageHandler>(handler));
            boost::system::error_code ec(e.get_errno(),
                                         boost::system::system_category());
            message_t none;
            details::invoke_reply_handler(h, ec, none);
            return;
        }
        m.append(a...);
        async_send(
            m,
            [h = H(std::forward<MessageHandler>(handler))](
                boost::system::error_code ec, message_t& reply) mutable {
                details::invoke_reply_handler(h, ec, reply);
            },
            timeout);
    }

    template <typename MessageHandler, typename... InputArgs>
    void async_method_call(MessageHandler&& handler, const std::string& service,
                           const std::string& objpath,
                           const std::string& interf, const std::string& method,
                           const InputArgs&... a)
    {
        async_method_call_timed(std::forward<MessageHandler>(handler), service,
                                objpath, interf, method, 0, a...);
    }

    /** From a coroutine: calls a method and returns its reply read as
     *  RetTypes (nothing, one value, or a tuple of several read one after
     *  the other).  Never throws; failures land in `ec` and the result is
     *  default-constructed.  With a void result `ec` is the errno the error
     *  reply maps to; otherwise the error reply's body is read as the
     *  result, and when that fails `ec` becomes invalid_argument. */
    template <typename... RetTypes, typename... InputArgs>
    auto yield_method_call(boost::asio::yield_context yield,
                           boost::system::error_code& ec,
                           const std::string& service,
                           const std::string& objpath,
                           const std::string& interf, const std::string& method,
                           const InputArgs&... a)
    {
        using Result =
            decltype(std::declval<message_t&>().unpack<RetTypes...>());
        message_t m;
        try
        {
            m = new_method_call(service.c_str(), objpath.c_str(),
                                interf.c_str(), method.c_str());
        }
        catch (const exception::SdBusError& e)
        {
            ec = boost::system::error_code(e.get_errno(),
                                           boost::system::system_category());
            if constexpr (!std::is_void_v<Result>)
            {
                return Result{};
            }
            else
            {
                return;
            }
        }
        m.append(a...);
        message_t reply = async_send_yield(m, yield[ec]);
        if constexpr (!std::is_void_v<Result>)
        {
            if (!reply)
            {
                return Result{};
            }
            try
            {
                return reply.unpack<RetTypes...>();
            }
            catch (const std::exception&)
            {
                ec = boost::system::errc::make_error_code(
                    boost::system::errc::invalid_argument);
                return Result{};
            }
        }
    }

  private:
    boost::asio::io_context& io_;
    boost::asio::posix::stream_descriptor socket_;
    boost::asio::steady_timer timer_;
    // Completion handlers hold a weak reference: one that was already
    // queued when the connection went away must not touch it.
    std::shared_ptr<connection*> self_;
    bool readPending_ = false;
    bool writePending_ = false;

    void start();
    /** Processes one message; again (posted) while there are more, then
     *  waits for the fd or the timeout. */
    void run();
    /** Waits for what sd-bus needs next: input, output, its timeout. */
    void arm();
};

} // namespace asio
} // namespace sdbusplus
