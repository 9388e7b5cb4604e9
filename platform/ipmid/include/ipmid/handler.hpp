// Handler objects of the command registry: the typed template that unpacks
// arguments and packs results, and the wrapper of legacy C callbacks.
#pragma once

#include <cxxabi.h>
#include <ipmid/api.h>

#include <boost/asio/spawn.hpp>
#include <boost/callable_traits.hpp>
#include <cstdlib>
#include <exception>
#include <ipmid/api-types.hpp>
#include <ipmid/message.hpp>
#include <memory>
#include <phosphor-logging/log.hpp>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

namespace ipmi
{

// Thrown (or returned through) to answer with a given completion code.
class HandlerCompletion
{
  public:
    explicit HandlerCompletion(Cc cc) noexcept : cc(cc)
    {
    }
    Cc code() const noexcept
    {
        return cc;
    }

  private:
    Cc cc;
};

class HandlerException : public HandlerCompletion, public std::runtime_error
{
  public:
    HandlerException(Cc cc, const char* what) :
        HandlerCompletion(cc), std::runtime_error(what)
    {
    }
    HandlerException(Cc cc, const std::string& what) :
        HandlerException(cc, what.c_str())
    {
    }
};

static inline std::string currentExceptionType()
{
    int status = 0;
    const std::type_info* t = abi::__cxa_current_exception_type();
    if (t == nullptr)
    {
        return "unknown";
    }
    char* name = abi::__cxa_demangle(t->name(), nullptr, nullptr, &status);
    std::string result = (status == 0 && name != nullptr) ? name : t->name();
    std::free(name);
    return result;
}

static inline message::Response::ptr
    errorResponse(message::Request::ptr request, Cc cc)
{
    auto response = request->makeResponse();
    response->cc = cc;
    return response;
}

class HandlerBase
{
  public:
    using ptr = std::shared_ptr<HandlerBase>;

    virtual ~HandlerBase() = default;

    message::Response::ptr call(message::Request::ptr request)
    {
        return executeCallback(request);
    }

  private:
    virtual message::Response::ptr
        executeCallback(message::Request::ptr request) = 0;
};

namespace details
{

// Catches whatever left a handler, logs it the way ipmid does and turns it
// into the completion code of the answer.
template <typename Fn>
message::Response::ptr guardedCall(message::Request::ptr request,
                                   const char* producedText,
                                   const char* failedText, Fn&& fn)
{
    using namespace phosphor::logging;
    try
    {
        return fn();
    }
    catch (const HandlerException& e)
    {
        log<level::INFO>(producedText, entry("NETFN=%x", request->ctx->netFn),
                         entry("CMD=%x", request->ctx->cmd),
                         entry("CC=%x", e.code()),
                         entry("EXCEPTION=%s", e.what()));
        return errorResponse(request, e.code());
    }
    catch (const HandlerCompletion& c)
    {
        return errorResponse(request, c.code());
    }
    catch (const std::exception& e)
    {
        log<level::ERR>(failedText, entry("NETFN=%x", request->ctx->netFn),
                        entry("CMD=%x", request->ctx->cmd),
                        entry("EXCEPTION=%s", e.what()));
        return errorResponse(request, ccUnspecifiedError);
    }
    catch (...)
    {
        std::string type = currentExceptionType();
        log<level::ERR>("Handler failed to catch exception",
                        entry("NETFN=%x", request->ctx->netFn),
                        entry("CMD=%x", request->ctx->cmd),
                        entry("EXCEPTION=%s", type.c_str()));
        return errorResponse(request, ccUnspecifiedError);
    }
}

template <typename T>
constexpr bool isSpecialArg = std::is_same_v<T, Context::ptr> ||
                              std::is_same_v<T, boost::asio::yield_context> ||
                              std::is_same_v<T, message::Request::ptr>;

template <typename Tuple>
struct SplitArgs;

template <>
struct SplitArgs<std::tuple<>>
{
    static constexpr bool hasSpecial = false;
    using Unpacked = std::tuple<>;
};

template <typename First, typename... Rest>
struct SplitArgs<std::tuple<First, Rest...>>
{
    static constexpr bool hasSpecial = isSpecialArg<std::decay_t<First>>;
    using Unpacked = std::conditional_t<
        hasSpecial, std::tuple<std::decay_t<Rest>...>,
        std::tuple<std::decay_t<First>, std::decay_t<Rest>...>>;
    static_assert(!(isSpecialArg<std::decay_t<Rest>> || ...),
                  "Only the first handler argument may be a context, yield or "
                  "request");
};

} // namespace details

template <typename Handler>
class IpmiHandler final : public HandlerBase
{
  public:
    explicit IpmiHandler(Handler&& handler) :
        handler_(std::forward<Handler>(handler))
    {
    }

  private:
    Handler handler_;

    using Args =
        boost::callable_traits::args_t<std::remove_reference_t<Handler>>;
    using Split = details::SplitArgs<Args>;
    using Unpacked = typename Split::Unpacked;
    using Result =
        boost::callable_traits::return_type_t<std::remove_reference_t<Handler>>;

    message::Response::ptr
        executeCallback(message::Request::ptr request) override
    {
        Unpacked unpacked{};
        request->payload.trailingOk = false;
        if (Cc unpackCc = request->unpack(unpacked); unpackCc != ccSuccess)
        {
            return errorResponse(request, unpackCc);
        }
        return details::guardedCall(request, "Handler produced exception",
                                    "Handler failed to catch exception", [&]() {
                                        Result result =
                                            callHandler(request, unpacked);
                                        auto response = request->makeResponse();
                                        response->cc = std::get<0>(result);
                                        auto& payload = std::get<1>(result);
                                        if (payload)
                                        {
                                            // Pack failures leave the remaining
                                            // fields out, as ipmid does.
                                            response->pack(*payload);
                                        }
                                        return response;
                                    });
    }

    Result callHandler(message::Request::ptr& request, Unpacked& unpacked)
    {
        if constexpr (Split::hasSpecial)
        {
            using First = std::decay_t<std::tuple_element_t<0, Args>>;
            return std::apply(
                [&](auto&... a) -> Result {
                    if constexpr (std::is_same_v<First, Context::ptr>)
                    {
                        return handler_(request->ctx, a...);
                    }
                    else if constexpr (std::is_same_v<
                                           First, boost::asio::yield_context>)
                    {
                        return handler_(request->ctx->yield, a...);
                    }
                    else
                    {
                        return handler_(request, a...);
                    }
                },
                unpacked);
        }
        else
        {
            return std::apply(
                [&](auto&... a) -> Result { return handler_(a...); }, unpacked);
        }
    }
};

// The legacy shape: ipmid hands a zeroed 64 KiB buffer and the request length,
// and cuts the response to whatever length the handler leaves behind.
constexpr std::size_t maxLegacyBufferSize = 64 * 1024;

template <>
class IpmiHandler<ipmid_callback_t> final : public HandlerBase
{
  public:
    explicit IpmiHandler(const ipmid_callback_t& handler, void* ctx = nullptr) :
        handler_(handler), handlerCtx(ctx)
    {
    }

  private:
    ipmid_callback_t handler_;
    void* handlerCtx;

    message::Response::ptr
        executeCallback(message::Request::ptr request) override
    {
        return details::guardedCall(
            request, "Legacy Handler produced exception",
            "Legacy Handler failed to catch exception", [&]() {
                auto response = request->makeResponse();
                response->payload.resize(maxLegacyBufferSize);
                std::size_t len =
                    request->payload.size() - request->payload.rawIndex;
                ipmi_ret_t cc = handler_(
                    request->ctx->netFn, request->ctx->cmd,
                    request->payload.data() + request->payload.rawIndex,
                    response->payload.data(), &len, handlerCtx);
                response->cc = cc;
                // Never send more than the buffer the handler was given.
                response->payload.resize(std::min(len, maxLegacyBufferSize));
                return response;
            });
    }
};

inline HandlerBase::ptr makeLegacyHandler(const ipmid_callback_t& handler,
                                          void* ctx = nullptr)
{
    return std::make_shared<IpmiHandler<ipmid_callback_t>>(handler, ctx);
}

template <typename Handler>
inline HandlerBase::ptr makeHandler(Handler&& handler)
{
    return std::make_shared<IpmiHandler<Handler>>(
        std::forward<Handler>(handler));
}

namespace impl
{

// Defined by the ipmid executable.
bool registerHandler(int prio, NetFn netFn, Cmd cmd, Privilege priv,
                     HandlerBase::ptr handler);

} // namespace impl

template <typename Handler>
bool registerHandler(int prio, NetFn netFn, Cmd cmd, Privilege priv,
                     Handler&& handler)
{
    auto h = makeHandler(std::forward<Handler>(handler));
    return impl::registerHandler(prio, netFn, cmd, priv, h);
}

} // namespace ipmi
