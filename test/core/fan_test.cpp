// Smart fan control and the fan initial duties.
#include "dbus_names.hpp"
#include "fakes.hpp"
#include "fan_init_duty.hpp"
#include "smart_fan.hpp"

namespace kestrel::test::fan_cases
{

using namespace smart_fan;
using namespace fan_init_duty;

/** The controller's unit and hwmon tree. */
struct FakeFan : FakeUnits, PwmFiles
{
    FAKE(bool, directoryOpens, (const std::string& path), path);
    FAKE(void, write, (const std::string& path, const std::string& t), path, t);
    FAKE(std::optional<std::string>, read, (const std::string& path), path);
};

TEST(Fan, SmartFanAndInitialDuties)
{
    const std::string fan = dbus::unitFanControl, dir = "directoryOpens hwmon";
    const std::string stop = "startStop Stop " + fan, pwm = "write hwmon3/pwm";
    const Case cases[] = {
        {"empty is automatic", {}, ok(), {"startStop Start " + fan}},
        {"all zero is automatic", Bytes(9), ok(), {"startStop Start " + fan}},
        {"0 is 20 %",
         {0, 50},
         ok(),
         {stop, dir + "0", dir + "1", dir + "2", dir + "3", pwm + "1 51",
          pwm + "2 127"}},
    };
    auto set = [](Request in, auto& f) {
        return setSmartFan(in, f, f, "hwmon");
    };
    FakeFan f;
    f.answers = {{dir + "3", "1"}};
    check(cases, set, f);
    // Without a controller the last candidate is used, and fails.
    FakeFan none;
    EXPECT_EQ(set(Bytes{0x65}, none), ok());
    EXPECT_EQ(none.calls.size(), 1 + 255 + 1u);
    EXPECT_EQ(none.calls.back(), "write hwmon254/pwm1 257");
    none.answers = {{"startStop", "throw"}};
    EXPECT_THROW(set(Bytes{0x50}, none), BusFailure);
    EXPECT_EQ(none.calls.back(), stop);

    // Outputs 4, 7 and 8 cannot be read.
    for (const char* k : {"1", "3", "5", "6"})
    {
        f.answers["read hwmon3/pwm" + std::string(k)] = "255";
    }
    f.answers["read hwmon3/pwm2"] = "127";
    EXPECT_EQ(getSmartFan(Bytes{0x01}, f, "hwmon"),
              ok({100, 49, 100, 0, 100, 100, 0, 0}));
    f.answers["read hwmon3/pwm1"] = "x";
    EXPECT_THROW(getSmartFan({}, f, "hwmon"), std::invalid_argument);
    f.answers = {{dir + "3", "1"}};
    EXPECT_EQ(getSmartFan({}, f, "hwmon"), cc(0xFF));
    EXPECT_EQ(percentToRaw(1), 51u); // the floor
    EXPECT_EQ(percentToRaw(21), 53u);

    const Case initial[] = {
        {"empty", {}, cc(0xCC)},
        {"nine duties", Bytes(9, 0x32), cc(0xCC)},
        {"below 20", {0x32, 0x13}, cc(0xCC)},
        {"above 100", {0x64, 0x65}, cc(0xCC)},
        {"20 and 100", {0x14, 0x64}, ok(), {"3f40:1464"}},
        {"eight", Bytes(8, 0x50), ok(), {"3f40:" + hex(Bytes(8, 0x50))}},
    };
    check<FakeEeprom>(initial, setFanInitDuty);
    FakeEeprom eeprom;
    EXPECT_EQ(getFanInitDuty(eeprom), ok(Bytes(8, 0x00))); // erased
    eeprom.put(tableOffset, {0x14, 0x32, 0x64, 0x30, 0x13, 0xFF, 0x64, 0x65});
    EXPECT_EQ(getFanInitDuty(eeprom),
              ok({0x14, 0x32, 0x64, 0x30, 0x00, 0x00, 0x64, 0x00}));
    eeprom.failAt = tableOffset;
    EXPECT_EQ(getFanInitDuty(eeprom), cc(0xFF));
    EXPECT_EQ(setFanInitDuty(Bytes{0x32}, eeprom), cc(0xFF));
}

} // namespace kestrel::test::fan_cases
