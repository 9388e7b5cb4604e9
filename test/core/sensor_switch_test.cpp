// The sensor-service switches against a fake systemd.
#include "dbus_names.hpp"
#include "fakes.hpp"
#include "sensor_switch.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using sensor_switch::getChassisIntr;
using sensor_switch::getMonitor;
using sensor_switch::setChassisIntr;
using sensor_switch::setMonitor;
using testing::IsEmpty;

const std::string intrusion = dbus::unitIntrusionSensor;
const std::string psu = dbus::unitPsuSensor;

struct SwitchCase
{
    const char* name;
    Answer (*core)(Request, Units&);
    Bytes request;
    Answer expected;
    std::vector<std::string> calls;
};

TEST(SensorSwitch, SetRequests)
{
    const SwitchCase cases[] = {
        {"intr empty", setChassisIntr, {}, failure(0xC7), {}},
        {"intr stop", setChassisIntr, {0x00}, success(), {"Stop " + intrusion}},
        {"intr start",
         setChassisIntr,
         {0x01},
         success(),
         {"Start " + intrusion}},
        {"intr other value", setChassisIntr, {0x02}, success(), {}},
        {"intr trailing",
         setChassisIntr,
         {0x01, 0x00},
         success(),
         {"Start " + intrusion}},
        {"psu empty", setMonitor, {}, failure(0xC7), {}},
        {"psu too short", setMonitor, {0x00}, failure(0xC7), {}},
        {"psu stop", setMonitor, {0x00, 0x00}, success(), {"Stop " + psu}},
        {"psu start", setMonitor, {0x00, 0x01}, success(), {"Start " + psu}},
        {"psu other value", setMonitor, {0x00, 0xFF}, success(), {}},
        {"psu other selector", setMonitor, {0x01, 0x01}, success(), {}},
        {"psu trailing",
         setMonitor,
         {0x00, 0x01, 0x07},
         success(),
         {"Start " + psu}},
    };
    for (const auto& c : cases)
    {
        FakeUnits units;
        EXPECT_EQ(c.core(c.request, units), c.expected) << c.name;
        EXPECT_EQ(units.calls, c.calls) << c.name;
    }
}

TEST(SensorSwitch, GetReportsActiveOnlyWhenActive)
{
    const std::pair<const char*, uint8_t> states[] = {{"active", 0x01},
                                                      {"inactive", 0x00},
                                                      {"activating", 0x00},
                                                      {"deactivating", 0x00},
                                                      {"failed", 0x00}};
    for (auto [state, reported] : states)
    {
        FakeUnits units;
        units.states[intrusion] = state;
        units.states[psu] = state;
        EXPECT_EQ(getChassisIntr({}, units), success({reported})) << state;
        EXPECT_EQ(getChassisIntr(Bytes{0x05}, units), success({reported}))
            << state;
        EXPECT_EQ(getMonitor(Bytes{0x00}, units), success({reported})) << state;
        EXPECT_EQ(getMonitor(Bytes{0x00, 0x09}, units), success({reported}))
            << state;
    }
}

TEST(SensorSwitch, GetMonitorLengthAndSelector)
{
    FakeUnits units;
    units.states[psu] = "active";
    EXPECT_EQ(getMonitor({}, units), failure(0xC7));
    EXPECT_EQ(getMonitor(Bytes{0x01}, units), success({0x00}));
}

TEST(SensorSwitch, BusFailuresEscape)
{
    FakeUnits units;
    units.fail = true;
    EXPECT_THROW(setChassisIntr(Bytes{0x01}, units), BusFailure);
    EXPECT_THROW(getMonitor(Bytes{0x00}, units), BusFailure);
    // No request reaches the bus when the switch value asks for nothing.
    EXPECT_EQ(setMonitor(Bytes{0x00, 0x02}, units), success());
    EXPECT_THAT(units.calls, IsEmpty());
}

} // namespace
} // namespace kestrel::test
