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
    FakeUnits units; // the intrusion sensor is still starting
    units.answers = {{"activeState " + intr, "activating"},
                     {"activeState " + psu, "active"}};
    const Case intrusion[] = {
        {"empty", {}, cc(0xC7)},
        {"stop", {0x00}, ok(), {stop + intr}},
        {"start, trailing", {0x01, 0x00}, ok(), {start + intr}},
        {"other value", {0x02}, ok()},
        {"get, trailing", {0x05}, ok({0x00}), {"activeState " + intr}},
    };
    check(intrusion, setChassisIntr, units, getChassisIntr);
    const Case monitor[] = {
        {"too short", {0x00}, cc(0xC7)},
        {"stop", {0x00, 0x00}, ok(), {stop + psu}},
        {"start, trailing", {0x00, 0x01, 0x07}, ok(), {start + psu}},
        {"other selector", {0x01, 0x01}, ok()},
        {"get, empty", {}, cc(0xC7)},
        {"get, trailing", {0x00, 0x09}, ok({0x01}), {"activeState " + psu}},
        {"get, other selector", {0x01}, ok({0x00})},
    };
    check(monitor, setMonitor, units, getMonitor);
    units.answers = {{"activeState", "throw"}, {"startStop", "throw"}};
    EXPECT_THROW(getMonitor(Bytes{0x00}, units), BusFailure);
    EXPECT_THROW(setChassisIntr(Bytes{0x01}, units), BusFailure);
}

} // namespace kestrel::test::sensor_switch_cases
