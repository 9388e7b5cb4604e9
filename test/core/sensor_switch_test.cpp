// The sensor-service switches against a fake systemd.
#include "dbus_names.hpp"
#include "fakes.hpp"
#include "sensor_switch.hpp"

namespace kestrel::test::sensor_switch_cases
{

using namespace sensor_switch;

TEST(SensorSwitch, SetAndGet)
{
    const std::string stop = "startStop Stop ", start = "startStop Start ";
    const std::string intr = dbus::unitIntrusionSensor,
                      psu = dbus::unitPsuSensor;
    const Case intrusion[] = {
        {"empty", {}, cc(0xC7)},
        {"stop", {0x00}, ok(), {stop + intr}},
        {"start, trailing", {0x01, 0x00}, ok(), {start + intr}},
        {"other value", {0x02}, ok()},
    };
    check<FakeUnits>(intrusion, setChassisIntr);
    const Case monitor[] = {
        {"too short", {0x00}, cc(0xC7)},
        {"stop", {0x00, 0x00}, ok(), {stop + psu}},
        {"start, trailing", {0x00, 0x01, 0x07}, ok(), {start + psu}},
        {"other value", {0x00, 0xFF}, ok()},
        {"other selector", {0x01, 0x01}, ok()},
    };
    check<FakeUnits>(monitor, setMonitor);

    FakeUnits units;
    units.answers = {{"activeState", "active"}};
    EXPECT_EQ(getChassisIntr(Bytes{0x05}, units), ok({0x01}));
    EXPECT_EQ(getMonitor(Bytes{0x00, 0x09}, units), ok({0x01}));
    units.answers = {{"activeState", "activating"}};
    EXPECT_EQ(getChassisIntr({}, units), ok({0x00}));
    EXPECT_EQ(getMonitor(Bytes{0x00}, units), ok({0x00}));
    EXPECT_EQ(getMonitor({}, units), cc(0xC7));
    EXPECT_EQ(getMonitor(Bytes{0x01}, units), ok({0x00}));
    units.answers = {{"activeState", "throw"}, {"startStop", "throw"}};
    EXPECT_THROW(getMonitor(Bytes{0x00}, units), BusFailure);
    EXPECT_THROW(setChassisIntr(Bytes{0x01}, units), BusFailure);
}

} // namespace kestrel::test::sensor_switch_cases
