// The intrusion-sensor and PSU-sensor switches through the host's
// dispatcher, against their units on the mocked systemd.
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mockbus = kestrel::test::mockbus;
using kestrel::test::Reply;
using testing::ElementsAre;
using testing::IsEmpty;
using Bytes = std::vector<uint8_t>;

namespace
{

constexpr ipmi::NetFn netFn = 0x3A;

constexpr auto unitIface = "org.freedesktop.systemd1.Unit";
constexpr auto intrusionUnit = "/org/freedesktop/systemd1/unit/"
                               "xyz_2eopenbmc_5fproject_2eintrusionsensor_"
                               "2eservice";
constexpr auto psuUnit = "/org/freedesktop/systemd1/unit/"
                         "xyz_2eopenbmc_5fproject_2epsusensor_2eservice";

// One switch: its commands, the request bytes before the switch byte (the
// PSU monitor's selector) and its unit.
struct Switch
{
    const char* name;
    ipmi::Cmd set;
    ipmi::Cmd get;
    Bytes prefix;
    const char* unit;
};

const std::vector<Switch> switches = {
    {"intrusion", 0x88, 0x89, {}, intrusionUnit},
    {"psu", 0xE6, 0xE7, {0x00}, psuUnit},
};

class SensorSwitchTest : public mockbus::MockTest
{
  protected:
    SensorSwitchTest() : MockTest({mockbus::systemd})
    {
    }

    static void SetUpTestSuite()
    {
        ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    }

    static Reply send(ipmi::Cmd cmd, const Bytes& data)
    {
        return kestrel::test::send(netFn, cmd, data);
    }

    static Bytes with(Bytes prefix, uint8_t value)
    {
        prefix.push_back(value);
        return prefix;
    }

    // Calls the mock recorded, as "Method args path".
    static std::vector<std::string> recorded()
    {
        std::vector<std::string> out;
        for (const auto& call : mockbus::allCalls(mockbus::systemd))
        {
            std::string line = call.method;
            for (const auto& arg : call.args)
            {
                line += " " + arg;
            }
            out.push_back(line + " " + call.path);
        }
        return out;
    }
};

TEST_F(SensorSwitchTest, SwitchStartsStopsOrLeavesTheUnitAndGetReportsIt)
{
    for (const auto& s : switches)
    {
        SCOPED_TRACE(s.name);
        const std::string unit = s.unit;
        const Bytes selector = s.prefix;
        const std::vector<std::pair<uint8_t, std::vector<std::string>>> cases =
            {{0x00, {"Stop s:replace " + unit}},
             {0x01, {"Start s:replace " + unit}},
             {0x02, {}},
             {0xFF, {}}};
        for (const auto& [value, expected] : cases)
        {
            SCOPED_TRACE(int(value));
            mockbus::clearCalls(mockbus::systemd);
            Reply set = send(s.set, with(s.prefix, value));
            EXPECT_EQ(set.cc, 0x00);
            EXPECT_THAT(set.data, IsEmpty());
            EXPECT_EQ(recorded(), expected);
        }

        // The state follows the last switch that acted.
        send(s.set, with(s.prefix, 0x00));
        EXPECT_THAT(send(s.get, selector).data, ElementsAre(0x00));
        send(s.set, with(s.prefix, 0x01));
        Reply get = send(s.get, selector);
        EXPECT_EQ(get.cc, 0x00);
        EXPECT_THAT(get.data, ElementsAre(0x01));
    }
}

TEST_F(SensorSwitchTest, ATransitionalStateLeavesTheResponseByteAsItWas)
{
    for (const auto& s : switches)
    {
        for (const char* state : {"activating", "deactivating", "failed"})
        {
            SCOPED_TRACE(std::string(s.name) + " " + state);
            mockbus::updateProperty(mockbus::systemd, s.unit, unitIface,
                                    "ActiveState", state);
            Reply get = send(s.get, s.prefix);
            EXPECT_EQ(get.cc, 0x00);
            // The daemon's response buffer starts zeroed.
            EXPECT_THAT(get.data, ElementsAre(0x00));
        }
    }
}

TEST_F(SensorSwitchTest, OtherPsuSelectorsMakeNoCall)
{
    Reply set = send(0xE6, {0x01, 0x01});
    EXPECT_EQ(set.cc, 0x00);
    EXPECT_THAT(set.data, IsEmpty());
    Reply get = send(0xE7, {0x01});
    EXPECT_EQ(get.cc, 0x00);
    EXPECT_THAT(get.data, ElementsAre(0x00));
    EXPECT_THAT(recorded(), IsEmpty());
    // The chassis intrusion Get reads no request byte.
    EXPECT_THAT(send(0x89, {0x01, 0x02}).data, ElementsAre(0x01));
}

TEST_F(SensorSwitchTest, ShortRequestsAreRefusedWithoutACall)
{
    for (const auto& [cmd, request] : std::vector<std::pair<ipmi::Cmd, Bytes>>{
             {0x88, {}}, {0xE6, {}}, {0xE6, {0x00}}, {0xE7, {}}})
    {
        SCOPED_TRACE(int(cmd));
        Reply r = send(cmd, request);
        EXPECT_EQ(r.cc, 0xC7);
        EXPECT_THAT(r.data, IsEmpty());
    }
    EXPECT_THAT(recorded(), IsEmpty());
}

TEST_F(SensorSwitchTest, AnUnreachableSystemdIsAnError)
{
    mockbus::stopMock(mockbus::systemd);
    EXPECT_EQ(send(0x88, {0x01}).cc, 0xFF);
    EXPECT_EQ(send(0xE7, {0x00}).cc, 0xFF);
}

} // namespace
