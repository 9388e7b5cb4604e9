// The sensor-service switches against a fake systemd.
#include "dbus_names.hpp"
#include "fakes.hpp"
#include "sensor_switch.hpp"

namespace kestrel::test::sensor_switch_cases
{

using namespace sensor_switch;

const std::string intr = dbus::unitIntrusionSensor;
const std::string psu = dbus::unitPsuSensor;

TEST(SensorSwitch, Set)
{
    const Case intrusion[] = {
        {"empty", {}, failure(0xC7)},
        {"stop", {0x00}, success(), {"Stop " + intr}},
        {"start, trailing", {0x01, 0x00}, success(), {"Start " + intr}},
        {"other value", {0x02}, success()},
    };
    check<FakeUnits>(intrusion, setChassisIntr);
    const Case monitor[] = {
        {"too short", {0x00}, failure(0xC7)},
        {"stop", {0x00, 0x00}, success(), {"Stop " + psu}},
        {"start, trailing", {0x00, 0x01, 0x07}, success(), {"Start " + psu}},
        {"other value", {0x00, 0xFF}, success()},
        {"other selector", {0x01, 0x01}, success()},
    };
    check<FakeUnits>(monitor, setMonitor);
}

TEST(SensorSwitch, Get)
{
    FakeUnits units;
    for (const char* state : {"active", "activating", "failed"})
    {
        units.states = {{intr, state}, {psu, state}};
        uint8_t on = std::string(state) == "active" ? 0x01 : 0x00;
        EXPECT_EQ(getChassisIntr(Bytes{0x05}, units), success({on})) << state;
        EXPECT_EQ(getMonitor(Bytes{0x00, 0x09}, units), success({on})) << state;
    }
    EXPECT_EQ(getMonitor({}, units), failure(0xC7));
    EXPECT_EQ(getMonitor(Bytes{0x01}, units), success({0x00}));
    units.fail = true;
    EXPECT_THROW(getMonitor(Bytes{0x00}, units), BusFailure);
    EXPECT_THROW(setChassisIntr(Bytes{0x01}, units), BusFailure);
}

} // namespace kestrel::test::sensor_switch_cases
