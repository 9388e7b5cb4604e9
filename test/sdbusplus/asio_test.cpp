// The asio connection: asynchronous and coroutine calls, properties and
// matches driven by io.run(), against a raw sd-bus peer.
#include "peer.hpp"

#include <sdbusplus/asio/connection.hpp>
#include <sdbusplus/asio/property.hpp>
#include <sdbusplus/bus/match.hpp>

#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/spawn.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

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

    /** Runs `body` in a coroutine and the context until it has returned. */
    void inCoroutine(std::function<void(boost::asio::yield_context)> body)
    {
        bool finished = false;
        boost::asio::spawn(
            io,
            [&finished, body](boost::asio::yield_context yield)
            {
                body(yield);
                finished = true;
            },
            boost::asio::detached);
        ASSERT_TRUE(runUntil([&finished] { return finished; }));
    }
};

TEST_F(AsioTest, AsyncCallHandsTheReplyToTheHandler)
{
    int calls = 0;
    std::string text;
    int32_t number = 0;
    conn->async_method_call(
        [&](error_code ec, const std::string& s, int32_t i)
        {
            ++calls;
            EXPECT_FALSE(ec) << ec.message();
            text = s;
            number = i;
        },
        peerName, peerPath, peerInterface, "Echo", std::string("hi"),
        int32_t{-4});
    EXPECT_EQ(calls, 0) << "the reply comes from io.run()";
    ASSERT_TRUE(runUntil([&] { return calls > 0; }));
    EXPECT_EQ(text, "hi");
    EXPECT_EQ(number, -4);

    std::string signature;
    std::vector<uint8_t> bytes;
    conn->async_method_call(
        [&](error_code ec, sdbusplus::message_t& reply, std::vector<uint8_t> v)
        {
            ++calls;
            EXPECT_FALSE(ec);
            signature = reply.get_signature();
            bytes = std::move(v);
        },
        peerName, peerPath, peerInterface, "Echo", std::vector<uint8_t>{1, 2});
    ASSERT_TRUE(runUntil([&] { return calls > 1; }));
    EXPECT_EQ(signature, "ay");
    EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2}));
    ASSERT_EQ(peer.calls().size(), 2u);
    EXPECT_EQ(peer.calls()[0].signature, "si");
}

TEST_F(AsioTest, AsyncCallFailuresReachTheHandlerOnce)
{
    struct Outcome
    {
        int calls = 0;
        error_code ec;
        std::string value = "untouched";
        std::string errorName;
    };
    Outcome failed;
    conn->async_method_call(
        [&failed](error_code ec, sdbusplus::message_t& reply, std::string s)
        {
            ++failed.calls;
            failed.ec = ec;
            failed.value = s;
            failed.errorName =
                reply.is_method_error() ? reply.get_error()->name : "";
        },
        peerName, peerPath, peerInterface, "Fail");
    Outcome absent;
    conn->async_method_call(
        [&absent](error_code ec)
        {
            ++absent.calls;
            absent.ec = ec;
        },
        "org.kestrel.test.Absent", "/", "a.b", "C");
    Outcome mismatch;
    conn->async_method_call(
        [&mismatch](error_code ec, int32_t i)
        {
            ++mismatch.calls;
            mismatch.ec = ec;
            mismatch.value = std::to_string(i);
        },
        peerName, peerPath, peerInterface, "Echo", std::string("not a number"));
    Outcome late;
    conn->async_method_call_timed(
        [&late](error_code ec)
        {
            ++late.calls;
            late.ec = ec;
        },
        peerName, peerPath, peerInterface, "Ignore", 200'000);

    ASSERT_TRUE(runUntil(
        [&] {
            return failed.calls && absent.calls && mismatch.calls && late.calls;
        }));
    // Let anything duplicated show up.
    io.poll();

    EXPECT_EQ(failed.calls, 1);
    EXPECT_EQ(failed.ec.value(), EIO);
    EXPECT_EQ(failed.value, "") << "values are not read from an error";
    EXPECT_EQ(failed.errorName, kestrel::test::peerErrorName);
    EXPECT_EQ(absent.calls, 1);
    EXPECT_EQ(absent.ec.value(), EHOSTUNREACH);
    EXPECT_EQ(mismatch.calls, 1);
    EXPECT_EQ(mismatch.ec, boost::system::errc::invalid_argument);
    EXPECT_EQ(mismatch.value, "0");
    EXPECT_EQ(late.calls, 1);
    EXPECT_EQ(late.ec.value(), ETIMEDOUT);
}

TEST_F(AsioTest, AsyncCallThatCannotBeBuiltAnswersAtOnce)
{
    int calls = 0;
    error_code seen;
    conn->async_method_call(
        [&](error_code ec, std::string)
        {
            ++calls;
            seen = ec;
        },
        peerName, "not a path", peerInterface, "Echo", std::string("x"));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen.value(), EINVAL);
    io.poll();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(peer.calls().empty());
}

TEST_F(AsioTest, AsyncSendTakesAnyMessage)
{
    auto m = conn->new_method_call(peerName, peerPath, peerInterface, "Echo");
    m.append(uint64_t{77});
    int calls = 0;
    uint64_t value = 0;
    conn->async_send(m,
                     [&](error_code ec, sdbusplus::message_t& reply)
                     {
                         ++calls;
                         EXPECT_FALSE(ec);
                         value = reply.unpack<uint64_t>();
                     });
    ASSERT_TRUE(runUntil([&] { return calls > 0; }));
    EXPECT_EQ(value, 77u);
}

TEST_F(AsioTest, YieldCallWithoutResultKeepsTheErrno)
{
    inCoroutine(
        [this](boost::asio::yield_context yield)
        {
            error_code ec;
            conn->yield_method_call(yield, ec, peerName, peerPath,
                                    peerInterface, "Echo", std::string("x"));
            EXPECT_FALSE(ec) << ec.message();
            conn->yield_method_call<void>(yield, ec, peerName, peerPath,
                                          peerInterface, "Fail");
            EXPECT_EQ(ec.value(), EIO);
            conn->yield_method_call(yield, ec, "org.kestrel.test.Absent", "/",
                                    "a.b", "C");
            EXPECT_EQ(ec.value(), EHOSTUNREACH);
            conn->yield_method_call(yield, ec, peerName, "bad path", "a.b",
                                    "C");
            EXPECT_EQ(ec.value(), EINVAL);
        });
    EXPECT_EQ(peer.calls().size(), 2u);
}

TEST_F(AsioTest, YieldCallWithResultReadsTheReply)
{
    inCoroutine(
        [this](boost::asio::yield_context yield)
        {
            error_code ec;
            auto s = conn->yield_method_call<std::string>(
                yield, ec, peerName, peerPath, peerInterface, "Echo",
                std::string("abc"));
            EXPECT_FALSE(ec);
            EXPECT_EQ(s, "abc");

            auto [a, b] = conn->yield_method_call<std::string, uint32_t>(
                yield, ec, peerName, peerPath, peerInterface, "Echo",
                std::string("d"), uint32_t{5});
            EXPECT_FALSE(ec);
            EXPECT_EQ(a, "d");
            EXPECT_EQ(b, 5u);

            // An error reply's body is a string: read as a number it fails.
            auto n = conn->yield_method_call<int32_t>(
                yield, ec, peerName, peerPath, peerInterface, "Fail");
            EXPECT_EQ(ec, boost::system::errc::invalid_argument);
            EXPECT_EQ(n, 0);

            auto v =
                conn->yield_method_call<std::variant<std::monostate, bool>>(
                    yield, ec, peerName, peerPath,
                    "org.freedesktop.DBus.Properties", "Get",
                    std::string(peerInterface), std::string("Name"));
            EXPECT_FALSE(ec) << "a variant of another type is no error";
            EXPECT_TRUE(std::holds_alternative<std::monostate>(v));
        });
}

TEST_F(AsioTest, YieldCallsLetOtherWorkRun)
{
    // While one coroutine waits for a reply that never comes, another
    // finishes its own call.
    std::vector<std::string> order;
    boost::asio::spawn(
        io,
        [this, &order](boost::asio::yield_context yield)
        {
            error_code ec;
            auto m = conn->new_method_call(peerName, peerPath, peerInterface,
                                           "Ignore");
            conn->async_send_yield(m, yield[ec], 300'000);
            order.push_back("slow " + std::to_string(ec.value()));
        },
        boost::asio::detached);
    boost::asio::spawn(
        io,
        [this, &order](boost::asio::yield_context yield)
        {
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

TEST_F(AsioTest, Properties)
{
    struct Got
    {
        int calls = 0;
        error_code ec;
        uint32_t value = 1234;
    };
    Got count;
    Got wrongType;
    Got unknown;
    auto recorder = [](Got& got)
    {
        return [&got](error_code ec, uint32_t v)
        {
            ++got.calls;
            got.ec = ec;
            got.value = v;
        };
    };
    sdbusplus::asio::getProperty<uint32_t>(
        *conn, peerName, peerPath, peerInterface, "Count", recorder(count));
    sdbusplus::asio::getProperty<uint32_t>(
        *conn, peerName, peerPath, peerInterface, "Name", recorder(wrongType));
    sdbusplus::asio::getProperty<uint32_t>(
        *conn, peerName, peerPath, peerInterface, "Nothing", recorder(unknown));
    int setCalls = 0;
    error_code setEc;
    sdbusplus::asio::setProperty(*conn, peerName, peerPath, peerInterface,
                                 "Flag", true,
                                 [&](error_code ec)
                                 {
                                     ++setCalls;
                                     setEc = ec;
                                 });
    ASSERT_TRUE(runUntil(
        [&] {
            return count.calls && wrongType.calls && unknown.calls && setCalls;
        }));
    EXPECT_FALSE(count.ec);
    EXPECT_EQ(count.value, 7u);
    EXPECT_EQ(wrongType.ec, boost::system::errc::invalid_argument);
    EXPECT_EQ(wrongType.value, 0u);
    EXPECT_TRUE(unknown.ec);
    EXPECT_EQ(unknown.value, 0u);
    EXPECT_FALSE(setEc);
    EXPECT_EQ(peer.lastSet(), "Flag:b");
}

TEST_F(AsioTest, MatchesRunFromTheContext)
{
    namespace rules = sdbusplus::bus::match::rules;
    std::vector<std::string> seen;
    sdbusplus::bus::match_t match(*conn,
                                  rules::type::signal() +
                                      rules::interface(peerInterface) +
                                      rules::member(kestrel::test::peerSignal),
                                  [&seen](sdbusplus::message_t& m)
                                  { seen.push_back(m.unpack<std::string>()); });
    conn->async_method_call([](error_code) {}, peerName, peerPath,
                            peerInterface, "PingThenEcho",
                            std::string("async"));
    ASSERT_TRUE(runUntil([&seen] { return !seen.empty(); }));
    EXPECT_EQ(seen, std::vector<std::string>{"async"});
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
        [&seen](sdbusplus::message_t& m)
        { seen.push_back(m.unpack<std::string>()); });
    bool called = false;
    boost::asio::post(io,
                      [this, &called]
                      {
                          auto m = conn->new_method_call(peerName, peerPath,
                                                         peerInterface,
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

} // namespace
