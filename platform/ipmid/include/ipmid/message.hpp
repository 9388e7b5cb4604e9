// Request context and the byte-stream payload that typed handlers are
// unpacked from and packed into.  Integers are little-endian, as on the wire.
#pragma once

#include <array>
#include <boost/asio/spawn.hpp>
#include <cstdint>
#include <exception>
#include <ipmid/api-types.hpp>
#include <ipmid/types.hpp>
#include <memory>
#include <optional>
#include <phosphor-logging/log.hpp>
#include <sdbusplus/asio/connection.hpp>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace ipmi
{

struct Context
{
    using ptr = std::shared_ptr<Context>;

    Context() = delete;
    Context(const Context&) = default;
    Context& operator=(const Context&) = delete;
    Context(Context&&) = delete;
    Context& operator=(Context&&) = delete;

    Context(std::shared_ptr<sdbusplus::asio::connection> bus, NetFn netFn,
            uint8_t lun, Cmd cmd, int channel, int userId, uint32_t sessionId,
            Privilege priv, int rqSA, int hostIdx,
            boost::asio::yield_context& yield) :
        bus(std::move(bus)),
        netFn(netFn), lun(lun), cmd(cmd), channel(channel), userId(userId),
        sessionId(sessionId), priv(priv), group(0), rqSA(rqSA),
        hostIdx(hostIdx), yield(yield)
    {
    }

    std::shared_ptr<sdbusplus::asio::connection> bus;
    NetFn netFn;
    uint8_t lun;
    Cmd cmd;
    int channel;
    int userId;
    uint32_t sessionId;
    Privilege priv;
    Group group;
    int rqSA;
    int hostIdx;
    boost::asio::yield_context yield;
};

namespace message
{

template <typename T>
struct UnpackSingle;
template <typename T>
struct PackSingle;

struct Payload
{
    Payload() = default;
    Payload(const Payload&) = default;
    Payload& operator=(const Payload&) = default;
    Payload(Payload&&) = default;
    Payload& operator=(Payload&&) = default;

    explicit Payload(SecureBuffer&& data) : raw(std::move(data))
    {
    }

    ~Payload()
    {
        // A request that carried data and was never checked for left-over
        // bytes points at a handler that skipped the length validation.
        if (!raw.empty() && std::uncaught_exceptions() == 0 && !trailingOk &&
            !unpackCheck && !unpackError)
        {
            phosphor::logging::log<phosphor::logging::level::ERR>(
                "Failed to check request for full unpack",
                phosphor::logging::entry("RAW_SIZE=%zu", raw.size()));
        }
    }

    std::size_t size() const
    {
        return raw.size();
    }
    void resize(std::size_t sz)
    {
        raw.resize(sz);
    }
    uint8_t* data()
    {
        return raw.data();
    }
    const uint8_t* data() const
    {
        return raw.data();
    }

    // Packing
    template <typename... Args>
    int pack(Args&&... args)
    {
        int result = 0;
        ((result == 0 ? (result = PackSingle<std::decay_t<Args>>::op(
                             *this, std::forward<Args>(args)))
                      : 0),
         ...);
        return result;
    }

    // Unpacking
    std::size_t remaining() const
    {
        return raw.size() - rawIndex;
    }

    // Takes `count` bytes, or fails (and marks the error) when fewer remain.
    const uint8_t* pop(std::size_t count)
    {
        if (remaining() < count)
        {
            unpackError = true;
            return nullptr;
        }
        const uint8_t* p = raw.data() + rawIndex;
        rawIndex += count;
        return p;
    }

    bool fullyUnpacked()
    {
        unpackCheck = true;
        return raw.size() == rawIndex && !unpackError;
    }

    template <typename... Args>
    int unpack(Args&... args)
    {
        int result = 0;
        ((result == 0
              ? (result = UnpackSingle<std::decay_t<Args>>::op(*this, args))
              : 0),
         ...);
        if (result != 0)
        {
            unpackError = true;
        }
        return result;
    }

    // A tuple unpacks atomically: on failure the read position is restored.
    template <typename... Types>
    int unpack(std::tuple<Types...>& t)
    {
        std::size_t saved = rawIndex;
        int result = std::apply([this](auto&... a) { return unpack(a...); }, t);
        if (result != 0)
        {
            rawIndex = saved;
        }
        return result;
    }

    SecureBuffer raw;
    std::size_t rawIndex = 0;
    bool trailingOk = true;
    bool unpackCheck = false;
    bool unpackError = false;
};

template <typename T>
struct UnpackSingle
{
    static int op(Payload& p, T& t)
    {
        if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>)
        {
            const uint8_t* b = p.pop(sizeof(T));
            if (b == nullptr)
            {
                return 1;
            }
            using U = std::make_unsigned_t<T>;
            U v = 0;
            for (std::size_t i = 0; i < sizeof(T); ++i)
            {
                v = static_cast<U>(v | (static_cast<U>(b[i]) << (8 * i)));
            }
            t = static_cast<T>(v);
            return 0;
        }
        else
        {
            static_assert(!std::is_same_v<T, T>,
                          "Attempt to unpack a type that has no IPMI unpack "
                          "operation");
            return 1;
        }
    }
};

template <typename T>
struct UnpackSingle<std::optional<T>>
{
    // Never fails: a value that cannot be read leaves the optional empty.
    static int op(Payload& p, std::optional<T>& t)
    {
        std::size_t saved = p.rawIndex;
        bool savedError = p.unpackError;
        T value{};
        if (UnpackSingle<T>::op(p, value) != 0)
        {
            p.rawIndex = saved;
            p.unpackError = savedError;
            t = std::nullopt;
        }
        else
        {
            t = std::move(value);
        }
        return 0;
    }
};

template <>
struct UnpackSingle<std::vector<uint8_t>>
{
    // Takes every remaining byte.
    static int op(Payload& p, std::vector<uint8_t>& t)
    {
        t.assign(p.raw.begin() + static_cast<std::ptrdiff_t>(p.rawIndex),
                 p.raw.end());
        p.rawIndex = p.raw.size();
        return 0;
    }
};

template <typename... Types>
struct UnpackSingle<std::tuple<Types...>>
{
    static int op(Payload& p, std::tuple<Types...>& t)
    {
        return p.unpack(t);
    }
};

template <typename T>
struct PackSingle
{
    static int op(Payload& p, const T& t)
    {
        if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>)
        {
            using U = std::make_unsigned_t<T>;
            U v = static_cast<U>(t);
            for (std::size_t i = 0; i < sizeof(T); ++i)
            {
                p.raw.push_back(static_cast<uint8_t>(v >> (8 * i)));
            }
            return 0;
        }
        else
        {
            static_assert(!std::is_same_v<T, T>,
                          "Attempt to pack a type that has no IPMI pack "
                          "operation");
            return 1;
        }
    }
};

template <typename T, std::size_t N>
struct PackSingle<std::array<T, N>>
{
    static int op(Payload& p, const std::array<T, N>& t)
    {
        for (const auto& e : t)
        {
            if (int r = PackSingle<T>::op(p, e); r != 0)
            {
                return r;
            }
        }
        return 0;
    }
};

template <typename T>
struct PackSingle<std::vector<T>>
{
    static int op(Payload& p, const std::vector<T>& t)
    {
        if constexpr (std::is_same_v<T, uint8_t>)
        {
            p.raw.insert(p.raw.end(), t.begin(), t.end());
            return 0;
        }
        else
        {
            for (const auto& e : t)
            {
                if (int r = PackSingle<T>::op(p, e); r != 0)
                {
                    return r;
                }
            }
            return 0;
        }
    }
};

template <typename... Types>
struct PackSingle<std::tuple<Types...>>
{
    static int op(Payload& p, const std::tuple<Types...>& t)
    {
        return std::apply([&p](const auto&... a) { return p.pack(a...); }, t);
    }
};

struct Response
{
    using ptr = std::shared_ptr<Response>;

    Response() = delete;
    explicit Response(Context::ptr& context) :
        payload(), ctx(context), cc(ccSuccess)
    {
    }

    template <typename... Args>
    int pack(Args&&... args)
    {
        return payload.pack(std::forward<Args>(args)...);
    }

    template <typename... Args>
    int pack(std::tuple<Args...>& args)
    {
        return payload.pack(args);
    }

    // Puts a prefix (a group or IANA number) in front of the response data.
    int prepend(const Payload& prefix)
    {
        payload.raw.insert(payload.raw.begin(), prefix.raw.begin(),
                           prefix.raw.end());
        return 0;
    }

    Payload payload;
    Context::ptr ctx;
    Cc cc;
};

struct Request
{
    using ptr = std::shared_ptr<Request>;

    explicit Request(Context::ptr context, SecureBuffer&& d) :
        payload(std::move(d)), ctx(std::move(context))
    {
    }

    template <typename... Args>
    int unpack(Args&&... args)
    {
        int unpackRet = payload.unpack(args...);
        if (unpackRet != 0)
        {
            return ccReqDataLenInvalid;
        }
        if (!payload.trailingOk && !payload.fullyUnpacked())
        {
            return ccReqDataLenInvalid;
        }
        return ccSuccess;
    }

    template <typename... Args>
    int unpack(std::tuple<Args...>& t)
    {
        return std::apply([this](auto&... a) { return unpack(a...); }, t);
    }

    Response::ptr makeResponse()
    {
        return std::make_shared<Response>(ctx);
    }

    Payload payload;
    Context::ptr ctx;
};

} // namespace message

} // namespace ipmi
