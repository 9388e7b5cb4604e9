// The asio connection, driven by io.run(), against a raw sd-bus peer; and
// methods served with object_server, called over the bus by the serving
// connection itself.  Only what the programs' own tests would not notice.
#include "peer.hpp"

#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/spawn.hpp>
#include <boost/asio/steady_timer.hpp>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <sdbusplus/asio/connection.hpp>
#include <sdbusplus/asio/object_server.hpp>
#include <sdbusplus/bus/match.hpp>
#include <sdbusplus/exception.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using boost::asio::yield_context;
using boost::system::error_code;
using kestrel::test::peerInterface;
using kestrel::test::peerName;
using kestrel::test::peerPath;

class AsioTest : public testing::Test
{
  protected:
    kestrel::test::Peer peer;
    boost::asio::io_context io;
    std::shared_ptr<sdbusplus::asio::connection> conn =
        std::make_shared<sdbusplus::asio::connection>(
            io, sdbusplus::bus::new_system());

    /** Runs the context until `done` holds, for at most five seconds. */
    bool runUntil(const std::function<bool()>& done)
    {
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!done() && std::chrono::steady_clock::now() < deadline)
        {
            io.run_one_for(50ms);
        }
        return done();
    }
};

// While one coroutine waits for a reply that never comes, another finishes
// its own call.
TEST_F(AsioTest, YieldCallsLetOtherWorkRun)
{
    std::vector<std::string> order;
    for (auto [member, timeout] : {std::pair{"Ignore", 300'000}, {"Echo", 0}})
    {
        boost::asio::spawn(
            io,
            [this, &order, member, timeout](yield_context yield) {
                error_code ec;
                auto m = conn->new_method_call(peerName, peerPath,
                                               peerInterface, member);
                conn->async_send_yield(m, yield[ec], timeout);
                order.push_back(member + (" " + std::to_string(ec.value())));
            },
            boost::asio::detached);
    }
    ASSERT_TRUE(runUntil([&order] { return order.size() == 2; }));
    EXPECT_THAT(order, testing::ElementsAre(
                           "Echo 0", "Ignore " + std::to_string(ETIMEDOUT)));
}

// A blocking call made outside the bus's own processing (here from a posted
// handler, as a legacy IPMI handler runs) reads the signal that precedes its
// reply into sd-bus's queue; the match must still run.
TEST_F(AsioTest, SignalsArrivingDuringABlockingCallAreNotStranded)
{
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
    ASSERT_TRUE(runUntil([&] { return called && !seen.empty(); }));
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
    io.poll();
    EXPECT_EQ(calls, 0);
}

constexpr auto servedPath = "/org/kestrel/test/served";
constexpr auto servedInterface = "org.kestrel.test.Served";

class ObjectServerTest : public AsioTest
{
  protected:
    sdbusplus::asio::object_server objects{conn};
    std::shared_ptr<sdbusplus::asio::dbus_interface> served =
        objects.add_interface(servedPath, servedInterface);

    struct Reply
    {
        bool done = false;
        error_code ec;
        sdbusplus::message_t msg;
    };

    std::shared_ptr<Reply> send(const char* member)
    {
        auto reply = std::make_shared<Reply>();
        conn->async_method_call(
            [reply](error_code ec, sdbusplus::message_t& m) {
                *reply = {true, ec, m};
            },
            conn->get_unique_name(), servedPath, servedInterface, member);
        return reply;
    }

    static bool isError(const std::shared_ptr<Reply>& reply, const char* name)
    {
        return sd_bus_message_is_method_error(reply->msg.get(), name) > 0;
    }
};

// A method that suspends holds no other up; what methods throw becomes an
// error reply, and the server keeps serving.
TEST_F(ObjectServerTest, MethodsSuspendAndThrowWithoutHoldingOthersUp)
{
    boost::asio::steady_timer gate(
        io, boost::asio::steady_timer::time_point::max());
    std::vector<std::string> order;
    served->register_method("Wait", [&](yield_context yield) {
        error_code ec;
        gate.async_wait(yield[ec]);
        order.push_back("Wait");
        return std::string("woken");
    });
    served->register_method("Open", [&](yield_context) {
        gate.cancel();
        order.push_back("Open");
    });
    served->register_method("BusError", [](yield_context) -> int32_t {
        throw sdbusplus::exception::SdBusError(ENOENT, "lookup");
    });
    served->register_method("Plain", [](yield_context) -> int32_t {
        throw std::runtime_error("plain failure");
    });
    served->register_method("Fine", [](yield_context) { return true; });
    served->initialize();

    auto wait = send("Wait");
    auto busError = send("BusError");
    auto plain = send("Plain");
    auto open = send("Open");
    auto fine = send("Fine");
    ASSERT_TRUE(runUntil([&] {
        return wait->done && busError->done && plain->done && open->done &&
               fine->done;
    }));
    EXPECT_EQ(order, (std::vector<std::string>{"Open", "Wait"}));
    EXPECT_EQ(wait->msg.unpack<std::string>(), "woken");
    EXPECT_FALSE(open->ec);
    EXPECT_STREQ(sd_bus_message_get_signature(open->msg.get(), true), "");
    EXPECT_TRUE(isError(busError, "org.freedesktop.DBus.Error.FileNotFound"));
    EXPECT_EQ(busError->ec.value(), ENOENT);
    EXPECT_TRUE(isError(plain, "org.freedesktop.DBus.Error.IOError"));
    EXPECT_EQ(plain->ec.value(), EIO);
    EXPECT_FALSE(fine->ec);
    EXPECT_TRUE(fine->msg.unpack<bool>());
}

TEST_F(ObjectServerTest, CallersAreCheckedOnceAndForgottenWhenTheyLeave)
{
    served->register_method("Fine", [](yield_context) { return true; });
    served->initialize();
    auto other = std::make_shared<sdbusplus::asio::connection>(
        io, sdbusplus::bus::new_system());
    bool otherDone = false;
    other->async_method_call(
        [&otherDone](error_code ec, bool) { otherDone = !ec; },
        conn->get_unique_name(), servedPath, servedInterface, "Fine");
    auto first = send("Fine");
    auto second = send("Fine");
    ASSERT_TRUE(
        runUntil([&] { return otherDone && first->done && second->done; }));
    EXPECT_FALSE(first->ec || second->ec);
    EXPECT_EQ(served->known_callers(), 2U) << "two callers, each once";
    other.reset();
    EXPECT_TRUE(runUntil([&] { return served->known_callers() == 1; }))
        << "the caller that left is forgotten";
}
