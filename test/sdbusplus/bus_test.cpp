// The blocking bus, messages and matches, against a real bus daemon (the
// sandbox's system bus) and a raw sd-bus peer.
#include "peer.hpp"

#include <sdbusplus/bus.hpp>
#include <sdbusplus/bus/match.hpp>
#include <sdbusplus/exception.hpp>
#include <sdbusplus/message.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

namespace
{

using namespace std::chrono_literals;
using kestrel::test::peerInterface;
using kestrel::test::peerName;
using kestrel::test::peerPath;
using sdbusplus::message::object_path;
using testing::StartsWith;

class BusTest : public testing::Test
{
  protected:
    kestrel::test::Peer peer;
    sdbusplus::bus_t bus = sdbusplus::bus::new_system();

    sdbusplus::message_t peerCall(const char* member)
    {
        return bus.new_method_call(peerName, peerPath, peerInterface, member);
    }

    /** A message appended to and sealed, positioned for reading: what a
     *  receiver would get, without sending it anywhere. */
    template <typename... Args>
    sdbusplus::message_t sealed(const Args&... args)
    {
        auto m = peerCall("Echo");
        m.append(args...);
        EXPECT_GE(sd_bus_message_seal(m.get(), 1, 0), 0);
        EXPECT_GE(sd_bus_message_rewind(m.get(), 1), 0);
        return m;
    }

    template <typename F>
    static std::string errorOf(F&& f)
    {
        try
        {
            f();
        }
        catch (const sdbusplus::exception::SdBusError& e)
        {
            return e.what();
        }
        return "(nothing thrown)";
    }
};

TEST_F(BusTest, ValuesComeBackAsTheyWentIn)
{
    using Value = std::variant<int32_t, std::string, std::vector<uint8_t>>;
    std::map<std::string, Value> options{{"privilege", int32_t{4}},
                                         {"name", std::string("x")},
                                         {"raw", std::vector<uint8_t>{1, 2}}};
    std::vector<std::tuple<std::string, std::string, std::string>> assocs{
        {"a", "b", "c"}, {"d", "e", "f"}};
    std::string_view view("not terminated here", 3);

    auto m =
        sealed(true, uint8_t{0xfe}, int16_t{-2}, uint16_t{65535}, int32_t{-7},
               uint32_t{7}, int64_t{-1} << 40, uint64_t{1} << 63, 2.5, "text",
               view, object_path(std::string("/x/y")), options, assocs,
               std::vector<uint16_t>{3, 4});
    EXPECT_STREQ(m.get_signature(), "bynqiuxtdssoa{sv}a(sss)aq");

    bool b = false;
    uint8_t y = 0;
    int16_t n = 0;
    uint16_t q = 0;
    int32_t i = 0;
    uint32_t u = 0;
    int64_t x = 0;
    uint64_t t = 0;
    double d = 0;
    std::string s1;
    std::string s2;
    object_path o;
    std::map<std::string, Value> optionsBack;
    std::vector<std::tuple<std::string, std::string, std::string>> assocsBack;
    std::vector<uint16_t> aq;
    m.read(b, y, n, q, i, u, x, t, d, s1, s2, o, optionsBack, assocsBack, aq);

    EXPECT_TRUE(b);
    EXPECT_EQ(y, 0xfe);
    EXPECT_EQ(n, -2);
    EXPECT_EQ(q, 65535);
    EXPECT_EQ(i, -7);
    EXPECT_EQ(u, 7u);
    EXPECT_EQ(x, int64_t{-1} << 40);
    EXPECT_EQ(t, uint64_t{1} << 63);
    EXPECT_EQ(d, 2.5);
    EXPECT_EQ(s1, "text");
    EXPECT_EQ(s2, "not");
    EXPECT_EQ(o.str, "/x/y");
    EXPECT_EQ(optionsBack, options);
    EXPECT_EQ(assocsBack, assocs);
    EXPECT_EQ(aq, (std::vector<uint16_t>{3, 4}));
}

TEST_F(BusTest, UnpackReadsFlat)
{
    auto m = sealed(std::string("a"), int32_t{5}, std::vector<uint8_t>{9});
    auto [s, i, v] = m.unpack<std::string, int32_t, std::vector<uint8_t>>();
    EXPECT_EQ(s, "a");
    EXPECT_EQ(i, 5);
    EXPECT_EQ(v, std::vector<uint8_t>{9});

    auto single = sealed(uint32_t{42});
    EXPECT_EQ(single.unpack<uint32_t>(), 42u);
}

TEST_F(BusTest, VariantsMatchOnlyTheExactContainedType)
{
    auto m = sealed(std::variant<std::string>("s"),
                    std::variant<object_path>(object_path(std::string("/o"))),
                    std::variant<int16_t>(int16_t{3}),
                    std::variant<std::string>("t"), uint32_t{99});

    std::variant<bool, std::string> first;
    m.read(first);
    EXPECT_EQ(std::get<std::string>(first), "s");

    // An object path is no string: skipped, first alternative defaulted.
    std::variant<bool, std::string> second = std::string("old");
    m.read(second);
    ASSERT_TRUE(std::holds_alternative<bool>(second));
    EXPECT_FALSE(std::get<bool>(second));

    // With monostate first the mismatch is visible, and no error is
    // raised for it.
    std::variant<std::monostate, int32_t> third = int32_t{1};
    m.read(third);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(third));

    std::variant<int32_t, double> fourth = 1.5;
    m.read(fourth);
    EXPECT_EQ(fourth, (std::variant<int32_t, double>(0)));

    // The skipped values were consumed whole: what follows reads fine.
    uint32_t after = 0;
    m.read(after);
    EXPECT_EQ(after, 99u);
}

TEST_F(BusTest, ReadingTheWrongTypeOrTooMuchThrows)
{
    auto m = sealed(std::string("x"));
    int32_t i = 0;
    EXPECT_THAT(errorOf([&] { m.read(i); }),
                StartsWith("sd_bus_message_read_basic fundamental: "));

    auto s = sealed(std::string("x"));
    std::string value;
    std::string missing;
    EXPECT_THAT(errorOf([&] { s.read(value, missing); }),
                StartsWith("sd_bus_message_read_basic string: "));
    EXPECT_EQ(value, "x");

    auto t = sealed(std::string("x"));
    std::tuple<std::string> tuple;
    EXPECT_THAT(errorOf([&] { t.read(tuple); }),
                StartsWith("sd_bus_message_enter_container tuple: "));

    auto v = sealed(std::string("not a variant"));
    std::variant<std::string> variant;
    EXPECT_NE(errorOf([&] { v.read(variant); }), "(nothing thrown)");
}

TEST_F(BusTest, CallsReturnTheReply)
{
    auto m = peerCall("Echo");
    m.append(std::string("hello"), std::vector<std::string>{"a", "b"});
    auto reply = bus.call(m);
    EXPECT_FALSE(reply.is_method_error());
    EXPECT_STREQ(reply.get_signature(), "sas");
    auto [s, v] = reply.unpack<std::string, std::vector<std::string>>();
    EXPECT_EQ(s, "hello");
    EXPECT_EQ(v, (std::vector<std::string>{"a", "b"}));

    auto again = peerCall("Echo");
    again.append(int32_t{3});
    EXPECT_EQ(again.call(1s).unpack<int32_t>(), 3);
}

TEST_F(BusTest, FailedCallsThrowWithTheStepAndTheError)
{
    auto fail = peerCall("Fail");
    try
    {
        bus.call(fail, 5s);
        FAIL() << "no exception";
    }
    catch (const sdbusplus::exception::SdBusError& e)
    {
        EXPECT_STREQ(e.what(), "sd_bus_call: org.kestrel.test.Error.Boom: "
                               "boom happened");
        EXPECT_STREQ(e.name(), kestrel::test::peerErrorName);
        EXPECT_STREQ(e.description(), kestrel::test::peerErrorMessage);
        EXPECT_EQ(e.get_errno(), EIO);
    }

    auto absent =
        bus.new_method_call("org.kestrel.test.Absent", "/", "a.b", "C");
    try
    {
        bus.call(absent);
        FAIL() << "no exception";
    }
    catch (const sdbusplus::exception::SdBusError& e)
    {
        EXPECT_THAT(e.what(),
                    StartsWith("sd_bus_call: "
                               "org.freedesktop.DBus.Error.ServiceUnknown"));
        EXPECT_EQ(e.get_errno(), EHOSTUNREACH);
    }

    auto noreply = peerCall("Fail");
    EXPECT_EQ(errorOf([&] { bus.call_noreply(noreply); }),
              "sd_bus_call noreply: org.kestrel.test.Error.Boom: "
              "boom happened");
    auto quiet = peerCall("Fail");
    bus.call_noreply_noerror(quiet);

    auto late = peerCall("Ignore");
    EXPECT_THAT(errorOf([&] { bus.call(late, 200'000); }),
                StartsWith("sd_bus_call: org.freedesktop.DBus.Error.Timeout"));
}

TEST_F(BusTest, BadNamesFailWhenTheCallIsBuilt)
{
    try
    {
        bus.new_method_call(peerName, "not a path", peerInterface, "Echo");
        FAIL() << "no exception";
    }
    catch (const sdbusplus::exception::SdBusError& e)
    {
        EXPECT_THAT(e.what(), StartsWith("sd_bus_message_new_method_call: "));
        EXPECT_EQ(e.get_errno(), EINVAL);
    }

    // Appending never throws; the bad value makes the send fail instead.
    auto m = peerCall("Echo");
    m.append(object_path(std::string("no/slash")));
    EXPECT_THAT(errorOf([&] { bus.call(m); }), StartsWith("sd_bus_call: "));
    EXPECT_TRUE(peer.calls().empty());
}

TEST_F(BusTest, MatchCallbacksSeeTheSignal)
{
    namespace rules = sdbusplus::bus::match::rules;
    std::vector<std::string> seen;
    sdbusplus::bus::match_t match(
        bus,
        rules::type::signal() + rules::path(peerPath) +
            rules::interface(peerInterface) +
            rules::member(kestrel::test::peerSignal),
        [&seen](sdbusplus::message_t& m)
        {
            seen.push_back(std::string(m.get_sender()) + " " +
                           m.unpack<std::string>());
        });

    auto m = peerCall("PingThenEcho");
    m.append(std::string("one"));
    bus.call(m);
    // The signal came in before the reply and waits in the queue.
    while (bus.process_discard())
    {
    }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_THAT(seen[0], testing::EndsWith(" one"));
    EXPECT_THAT(seen[0], StartsWith(":"));

    // A signal sent by this connection is seen as well.
    auto own =
        bus.new_signal(peerPath, peerInterface, kestrel::test::peerSignal);
    own.append(std::string("two"));
    own.signal_send();
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (seen.size() < 2 && std::chrono::steady_clock::now() < deadline)
    {
        if (!bus.process_discard())
        {
            bus.wait(100ms);
        }
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], bus.get_unique_name() + " two");
}

TEST_F(BusTest, ConnectionsAndNames)
{
    auto shared = sdbusplus::bus::new_default_system();
    auto same = sdbusplus::bus::new_default_system();
    EXPECT_EQ(shared.get(), same.get());
    EXPECT_NE(shared.get(), bus.get());
    EXPECT_THAT(bus.get_unique_name(), StartsWith(":1."));

    bus.request_name("org.kestrel.test.Client");
    auto owner =
        bus.new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "GetNameOwner");
    owner.append("org.kestrel.test.Client");
    EXPECT_EQ(shared.call(owner).unpack<std::string>(), bus.get_unique_name());

    sdbusplus::bus_t moved(std::move(bus));
    EXPECT_EQ(bus.get(), nullptr);
    EXPECT_NE(moved.get(), nullptr);
}

} // namespace
