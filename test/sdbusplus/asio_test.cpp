// The asio connection, driven by io.run(), against a raw sd-bus peer; and
// methods served with object_server, called by a second connection on the
// same io_context.  Only what the programs' own tests would not notice.
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

namespace
{

using namespace std::chrono_literals;
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
};

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
    io.poll();
    EXPECT_EQ(calls, 0);
}

constexpr auto servedPath = "/org/kestrel/test/served";
constexpr auto servedInterface = "org.kestrel.test.Served";

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
