// The blocking bus, messages and matches, against a real bus daemon (the
// sandbox's system bus) and a raw sd-bus peer.
#include "peer.hpp"

#include <cerrno>
#include <memory>
#include <sdbusplus/bus.hpp>
#include <sdbusplus/bus/match.hpp>
#include <sdbusplus/exception.hpp>
#include <sdbusplus/message.hpp>
#include <string>
#include <variant>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using kestrel::test::peerInterface;
using kestrel::test::peerName;
using kestrel::test::peerPath;
using sdbusplus::exception::SdBusError;
using testing::StartsWith;
using testing::ThrowsMessage;

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
};

// A variant matches only the exact contained type: with monostate first a
// value of another type shows as such, without it the first alternative is
// defaulted; either way the value is consumed whole.  Reading the wrong type
// or past the end throws.
TEST_F(BusTest, VariantsMatchOnlyTheExactTypeAndBadReadsThrow)
{
    auto m = sealed(std::variant<std::string>("s"), std::variant<bool>(true),
                    std::variant<int16_t>(int16_t{3}), uint32_t{99});
    std::variant<bool, std::string> first;
    std::variant<std::monostate, std::string> second = std::string("old");
    std::variant<int32_t, double> third = 1.5;
    m.read(first, second, third);
    EXPECT_EQ(std::get<std::string>(first), "s");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(second));
    EXPECT_EQ(third, (std::variant<int32_t, double>(0)));
    EXPECT_EQ(m.unpack<uint32_t>(), 99u);

    auto wrong = sealed(std::string("x"));
    int32_t i = 0;
    EXPECT_THAT([&] { wrong.read(i); },
                ThrowsMessage<SdBusError>(
                    StartsWith("sd_bus_message_read_basic fundamental: ")));
    auto s = sealed(std::string("x"));
    std::string value;
    std::string missing;
    EXPECT_THAT([&] { s.read(value, missing); },
                ThrowsMessage<SdBusError>(
                    StartsWith("sd_bus_message_read_basic string: ")));
    EXPECT_EQ(value, "x");
    auto v = sealed(std::string("not a variant"));
    std::variant<std::string> variant;
    EXPECT_THROW(v.read(variant), SdBusError);
}

// A bad path fails when the call is built; a bad appended value (appending
// never throws) makes the send fail instead.
TEST_F(BusTest, BadNamesFailWhenTheCallIsBuiltOrSent)
{
    auto build = [this] {
        bus.new_method_call(peerName, "not a path", peerInterface, "Echo");
    };
    EXPECT_THAT(build, ThrowsMessage<SdBusError>(
                           StartsWith("sd_bus_message_new_method_call: ")));
    EXPECT_THAT(build, testing::Throws<SdBusError>(
                           testing::Property(&SdBusError::get_errno, EINVAL)));
    auto m = peerCall("Echo");
    m.append(sdbusplus::message::object_path(std::string("no/slash")));
    EXPECT_THAT([&] { bus.call(m); },
                ThrowsMessage<SdBusError>(StartsWith("sd_bus_call: ")));
}

TEST_F(BusTest, MatchCallbacksSeeTheSignalWhileMatchedLive)
{
    namespace rules = sdbusplus::bus::match::rules;
    std::vector<std::string> seen;
    auto match = std::make_unique<sdbusplus::bus::match_t>(
        bus,
        rules::type::signal() + rules::path(peerPath) +
            rules::interface(peerInterface) +
            rules::member(kestrel::test::peerSignal),
        [&seen](sdbusplus::message_t& m) {
            seen.push_back(std::string(m.get_path()) + " " +
                           m.unpack<std::string>());
        });
    auto ping = [this](const char* text) {
        auto m = peerCall("PingThenEcho");
        m.append(std::string(text));
        bus.call(m);
        // The signal came in before the reply and waits in the queue.
        while (sd_bus_process(bus.get(), nullptr) > 0)
        {
        }
    };
    ping("one");
    EXPECT_EQ(seen, std::vector<std::string>{std::string(peerPath) + " one"});
    match.reset();
    ping("two");
    EXPECT_EQ(seen.size(), 1u) << "the rule goes with the match";
}
