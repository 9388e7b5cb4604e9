// The asio connection: asynchronous and coroutine calls and matches driven
// by io.run(), against a raw sd-bus peer; and methods served with
// object_server, called by a second connection on the same io_context.
#include "peer.hpp"

#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/spawn.hpp>
#include <boost/asio/steady_timer.hpp>
#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <sdbusplus/asio/connection.hpp>
#include <sdbusplus/asio/object_server.hpp>
#include <sdbusplus/bus/match.hpp>
#include <sdbusplus/exception.hpp>
#include <stdexcept>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace
{

using namespace std::chrono_literals;
using boost::system::error_code;
using kestrel::test::peerInterface;
using kestrel::test::peerName;
using kestrel::test::peerPath;
using testing::HasSubstr;

class AsioTest : public testing::Test
{
  protected:
    kestrel::test::Peer peer;
    boost::asio::io_context io;
    std::shared_ptr<sdbusplus::asio::connection> conn =
        std::make_shared<sdbusplus::asio::connection>(
            io, sdbusplus::bus::new_system());

    /** Runs the context until `done` holds, for at most `limit`. */
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds limit = 5s)
    {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < deadline)
        {
            io.run_one_for(50ms);
        }
        return done();
    }

    /** Runs `body` in a coroutine and the context until it has returned. */
    void inCoroutine(std::function<void(boost::asio::yield_context)> body)
    {
        bool finished = false;
        boost::asio::spawn(
            io,
            [&finished, body](boost::asio::yield_context yield) {
                body(yield);
                finished = true;
            },
            boost::asio::detached);
        ASSERT_TRUE(runUntil([&finished] { return finished; }));
    }
};

TEST_F(AsioTest, AsyncCallFailuresReachTheHandlerOnce)
{
    struct Outcome
    {
        int calls = 0;
        error_code ec;
        std::string value = "untouched";
    };
    std::map<std::string, Outcome> got;
    auto record = [&got](const char* name) {
        return [&got, name](error_code ec, std::string s) {
            auto& o = got[name];
            ++o.calls;
            o.ec = ec;
            o.value = s;
        };
    };
    conn->async_method_call(record("error reply"), peerName, peerPath,
                            peerInterface, "Fail");
    conn->async_method_call(record("absent"), "org.kestrel.test.Absent", "/",
                            "a.b", "C");
    conn->async_method_call(record("wrong type"), peerName, peerPath,
                            peerInterface, "Echo", int32_t{1});
    conn->async_method_call(record("bad path"), peerName, "not a path",
                            peerInterface, "Echo");
    EXPECT_EQ(got["bad path"].calls, 1)
        << "a call that cannot be built answers at once";

    ASSERT_TRUE(runUntil([&got] { return got.size() == 4; }));
    // Let anything duplicated show up.
    io.run_for(100ms);

    const std::tuple<const char*, int> expected[] = {
        {"error reply", EIO},
        {"absent", EHOSTUNREACH},
        {"wrong type", EINVAL},
        {"bad path", EINVAL},
    };
    for (const auto& [name, error] : expected)
    {
        const auto& o = got[name];
        EXPECT_EQ(o.calls, 1) << name;
        EXPECT_EQ(o.ec.value(), error) << name;
        EXPECT_EQ(o.value, "") << name << ": no value read from a failure";
    }
    EXPECT_EQ(peer.calls().size(), 2u);
}

TEST_F(AsioTest, YieldCallsReadTheReplyAsTheResultTypes)
{
    inCoroutine([this](boost::asio::yield_context yield) {
        error_code ec;
        auto [a, b] = conn->yield_method_call<std::string, uint32_t>(
            yield, ec, peerName, peerPath, peerInterface, "Echo",
            std::string("d"), uint32_t{5});
        EXPECT_FALSE(ec);
        EXPECT_EQ(a, "d");
        EXPECT_EQ(b, 5u);

        // Without result types the error code is the failure's own.
        conn->yield_method_call(yield, ec, peerName, peerPath, peerInterface,
                                "Fail");
        EXPECT_EQ(ec.value(), EIO);
        conn->yield_method_call(yield, ec, "org.kestrel.test.Absent", "/",
                                "a.b", "C");
        EXPECT_EQ(ec.value(), EHOSTUNREACH);

        // An error reply's body is a string: read as a number it fails.
        auto n = conn->yield_method_call<int32_t>(yield, ec, peerName, peerPath,
                                                  peerInterface, "Fail");
        EXPECT_EQ(ec, boost::system::errc::invalid_argument);
        EXPECT_EQ(n, 0);

        using Property = std::variant<std::monostate, bool>;
        auto get = [&](const char* name) {
            return conn->yield_method_call<Property>(
                yield, ec, peerName, peerPath,
                "org.freedesktop.DBus.Properties", "Get",
                std::string(peerInterface), std::string(name));
        };
        EXPECT_TRUE(std::holds_alternative<std::monostate>(get("Name")));
        EXPECT_FALSE(ec) << "a variant of another type is no error";
        get("Nothing");
        EXPECT_TRUE(ec) << "a failed Get is an error";
    });
}

TEST_F(AsioTest, YieldCallsLetOtherWorkRun)
{
    // While one coroutine waits for a reply that never comes, another
    // finishes its own call.
    std::vector<std::string> order;
    boost::asio::spawn(
        io,
        [this, &order](boost::asio::yield_context yield) {
            error_code ec;
            auto m = conn->new_method_call(peerName, peerPath, peerInterface,
                                           "Ignore");
            conn->async_send_yield(m, yield[ec], 300'000);
            order.push_back("slow " + std::to_string(ec.value()));
        },
        boost::asio::detached);
    boost::asio::spawn(
        io,
        [this, &order](boost::asio::yield_context yield) {
            error_code ec;
            conn->yield_method_call(yield, ec, peerName, peerPath,
                                    peerInterface, "Echo");
            order.push_back("fast " + std::to_string(ec.value()));
        },
        boost::asio::detached);
    ASSERT_TRUE(runUntil([&order] { return order.size() == 2; }));
    EXPECT_THAT(order, testing::ElementsAre(
                           "fast 0", "slow " + std::to_string(ETIMEDOUT)));
}

TEST_F(AsioTest, SignalsArrivingDuringABlockingCallAreNotStranded)
{
    // A blocking call made outside the bus's own processing (here from a
    // posted handler, as a legacy IPMI handler runs) reads the signal that
    // precedes its reply into sd-bus's queue; the match must still run.
    namespace rules = sdbusplus::bus::match::rules;
    std::vector<std::string> seen;
    sdbusplus::bus::match_t match(
        *conn, rules::type::signal() + rules::member(kestrel::test::peerSignal),
        [&seen](sdbusplus::message_t& m) {
            seen.push_back(m.unpack<std::string>());
        });
    bool called = false;
    boost::asio::post(io, [this, &called] {
        auto m = conn->new_method_call(peerName, peerPath, peerInterface,
                                       "PingThenEcho");
        m.append(std::string("blocking"));
        conn->call(m);
        called = true;
    });
    ASSERT_TRUE(runUntil([&] { return called && !seen.empty(); }, 3s));
    EXPECT_EQ(seen, std::vector<std::string>{"blocking"});
}

TEST_F(AsioTest, DroppingTheConnectionReleasesPendingHandlers)
{
    int calls = 0;
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watch = token;
    conn->async_method_call([&calls, token](error_code) { ++calls; }, peerName,
                            peerPath, peerInterface, "Ignore");
    token.reset();
    ASSERT_FALSE(watch.expired()) << "the pending call holds the handler";
    conn.reset();
    EXPECT_TRUE(watch.expired()) << "closing the bus frees the handler";
    // Whatever the context still holds must not touch the dead connection.
    io.run_for(100ms);
    EXPECT_EQ(calls, 0);
}

constexpr auto servedPath = "/org/kestrel/test/served";
constexpr auto servedInterface = "org.kestrel.test.Served";

using ExecuteReply =
    std::tuple<uint8_t, uint8_t, uint8_t, uint8_t, std::vector<uint8_t>>;

class ObjectServerTest : public AsioTest
{
  protected:
    std::shared_ptr<sdbusplus::asio::connection> client =
        std::make_shared<sdbusplus::asio::connection>(
            io, sdbusplus::bus::new_system());
    sdbusplus::asio::object_server objects{conn};
    std::shared_ptr<sdbusplus::asio::dbus_interface> served =
        objects.add_interface(servedPath, servedInterface);
    std::string service = conn->get_unique_name();

    struct Reply
    {
        bool done = false;
        error_code ec;
        sdbusplus::message_t msg;

        std::string errorName() const
        {
            const sd_bus_error* e = sd_bus_message_get_error(msg.get());
            return e != nullptr ? e->name : "";
        }
    };

    std::shared_ptr<Reply> send(const std::string& interface,
                                const std::string& member)
    {
        auto reply = std::make_shared<Reply>();
        client->async_method_call(
            [reply](error_code ec, sdbusplus::message_t& m) {
                reply->done = true;
                reply->ec = ec;
                reply->msg = m;
            },
            service, servedPath, interface, member);
        return reply;
    }

    Reply call(const std::string& interface, const std::string& member)
    {
        auto reply = send(interface, member);
        EXPECT_TRUE(runUntil([&reply] { return reply->done; }))
            << member << " got no reply";
        return *reply;
    }
};

TEST_F(ObjectServerTest, MethodsTakeTheirArgumentsAndReplyOneValue)
{
    served->register_method(
        "execute",
        [](boost::asio::yield_context, uint8_t netFn, uint8_t lun, uint8_t cmd,
           std::vector<uint8_t> data,
           std::map<std::string, std::variant<int32_t, uint32_t>> options)
            -> ExecuteReply {
            data.push_back(static_cast<uint8_t>(options.size()));
            return {static_cast<uint8_t>(netFn | 1), lun, cmd, 0x00,
                    std::move(data)};
        });
    ASSERT_TRUE(served->initialize());
    EXPECT_FALSE(served->initialize());

    std::map<std::string, std::variant<int32_t, uint32_t>> options{
        {"privilege", int32_t{4}}};
    ExecuteReply got;
    bool done = false;
    client->async_method_call(
        [&](error_code ec, ExecuteReply r) {
            EXPECT_FALSE(ec) << ec.message();
            got = std::move(r);
            done = true;
        },
        service, servedPath, servedInterface, "execute", uint8_t{0x3a},
        uint8_t{0}, uint8_t{0xab}, std::vector<uint8_t>{1, 2}, options);
    ASSERT_TRUE(runUntil([&done] { return done; }));
    EXPECT_EQ(got, (ExecuteReply{0x3b, 0, 0xab, 0, {1, 2, 1}}));

    auto xml = call("org.freedesktop.DBus.Introspectable", "Introspect")
                   .msg.unpack<std::string>();
    EXPECT_THAT(xml, HasSubstr("<interface name=\"org.kestrel.test.Served\">"));
    EXPECT_THAT(xml, HasSubstr("<method name=\"execute\">"));
    EXPECT_THAT(xml, HasSubstr("<arg type=\"a{sv}\" direction=\"in\"/>"));
    EXPECT_THAT(xml, HasSubstr("<arg type=\"(yyyyay)\" direction=\"out\"/>"));
}

TEST_F(ObjectServerTest, MethodsSuspendWithoutHoldingOthersUp)
{
    boost::asio::steady_timer gate(
        io, boost::asio::steady_timer::time_point::max());
    std::vector<std::string> order;
    served->register_method("Wait", [&](boost::asio::yield_context yield) {
        error_code ec;
        gate.async_wait(yield[ec]);
        order.push_back("Wait");
        return std::string("woken");
    });
    served->register_method("Open", [&](boost::asio::yield_context) {
        gate.cancel();
        order.push_back("Open");
    });
    served->initialize();

    auto wait = send(servedInterface, "Wait");
    EXPECT_FALSE(runUntil([&wait] { return wait->done; }, 200ms));
    auto open = send(servedInterface, "Open");
    ASSERT_TRUE(runUntil([&] { return wait->done && open->done; }));
    EXPECT_EQ(order, (std::vector<std::string>{"Open", "Wait"}));
    EXPECT_EQ(wait->msg.unpack<std::string>(), "woken");
    EXPECT_FALSE(open->ec);
    EXPECT_STREQ(sd_bus_message_get_signature(open->msg.get(), true), "");
}

TEST_F(ObjectServerTest, ExceptionsBecomeErrorReplies)
{
    served->register_method(
        "BusError", [](boost::asio::yield_context) -> int32_t {
            throw sdbusplus::exception::SdBusError(ENOENT, "lookup");
        });
    served->register_method("Plain", [](boost::asio::yield_context) -> int32_t {
        throw std::runtime_error("plain failure");
    });
    served->register_method("Fine",
                            [](boost::asio::yield_context) { return true; });
    served->initialize();

    auto busError = call(servedInterface, "BusError");
    EXPECT_EQ(busError.errorName(), "org.freedesktop.DBus.Error.FileNotFound");
    EXPECT_EQ(busError.ec.value(), ENOENT);

    auto plain = call(servedInterface, "Plain");
    EXPECT_EQ(plain.errorName(), "org.freedesktop.DBus.Error.IOError");
    EXPECT_EQ(plain.ec.value(), EIO);

    auto fine = call(servedInterface, "Fine");
    EXPECT_FALSE(fine.ec) << "the server keeps serving";
    EXPECT_TRUE(fine.msg.unpack<bool>());
}

} // namespace
