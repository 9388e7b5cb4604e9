// Smart fan control against a fake systemd and hwmon tree, and the fan
// initial duties against a fake EEPROM.
#include "dbus_names.hpp"
#include "fakes.hpp"
#include "fan_init_duty.hpp"
#include "smart_fan.hpp"

namespace kestrel::test::fan_cases
{

using namespace smart_fan;
using namespace fan_init_duty;

const std::string fan = dbus::unitFanControl;

/** The controller's unit and hwmon tree. */
struct FakeFan : FakeUnits, PwmFiles
{
    FAKE(bool, directoryOpens, (const std::string& path), path);
    FAKE(void, write, (const std::string& path, const std::string& t), path, t);
    FAKE(std::optional<std::string>, read, (const std::string& path), path);
};

const Answers hwmon3 = {{"directoryOpens hwmon3", "1"}};

Answer set(Request in, FakeFan& f)
{
    return setSmartFan(in, f, f, "hwmon");
}

TEST(SmartFan, Conversions)
{
    const std::pair<uint8_t, unsigned> toRaw[] = {
        {0, 51}, {1, 51}, {20, 51}, {21, 53}, {50, 127}, {101, 257}};
    for (auto [percent, raw] : toRaw)
    {
        EXPECT_EQ(percentToRaw(percent), raw) << int(percent);
    }
    const std::pair<int, uint8_t> toPercent[] = {
        {2, 0}, {3, 1}, {51, 20}, {254, 99}, {255, 100}};
    for (auto [raw, percent] : toPercent)
    {
        EXPECT_EQ(rawToPercent(raw), percent) << raw;
    }
}

TEST(SmartFan, Set)
{
    Strings stop = {"startStop Stop " + fan};
    for (int i = 0; i <= 3; ++i)
    {
        stop.push_back("directoryOpens hwmon" + std::to_string(i));
    }
    const Strings pwms = {"write hwmon3/pwm1 51", "write hwmon3/pwm2 127"};
    const std::string start = "startStop Start ";
    const Case cases[] = {
        {"empty is automatic", {}, ok(), {start + fan}},
        {"all zero is automatic", Bytes(9), ok(), {start + fan}},
        {"0 is the minimum", {0, 50}, ok(), cat(stop, pwms)},
    };
    FakeFan fx;
    fx.answers = hwmon3;
    check(cases, set, fx);
    // Without a controller the last candidate is used, and fails.
    FakeFan none;
    EXPECT_EQ(set(Bytes{0x65}, none), ok());
    EXPECT_EQ(none.calls.size(), 1 + 255 + 1u);
    EXPECT_EQ(none.calls.back(), "write hwmon254/pwm1 257");
    fx.answers = {{"startStop", "throw"}};
    EXPECT_THROW(set(Bytes{0x50}, fx), BusFailure);
    EXPECT_EQ(fx.calls, Strings{"startStop Stop " + fan});
}

TEST(SmartFan, Get)
{
    FakeFan f;
    f.answers = hwmon3;
    for (int k = 1; k <= 6; ++k)
    {
        f.answers["read hwmon3/pwm" + std::to_string(k)] =
            k == 2 ? "127" : "255";
    }
    f.answers.erase("read hwmon3/pwm4");
    EXPECT_EQ(getSmartFan(Bytes{0x01}, f, "hwmon"),
              ok({100, 49, 100, 0, 100, 100, 0, 0}));
    f.answers["read hwmon3/pwm1"] = "x";
    EXPECT_THROW(getSmartFan({}, f, "hwmon"), std::invalid_argument);
    f.answers = hwmon3;
    EXPECT_EQ(getSmartFan({}, f, "hwmon"), cc(0xFF));
}

TEST(FanInitDuty, SetAndGet)
{
    const Case cases[] = {
        {"empty", {}, cc(0xCC)},
        {"nine duties", Bytes(9, 0x32), cc(0xCC)},
        {"below 20", {0x32, 0x13}, cc(0xCC)},
        {"above 100", {0x64, 0x65}, cc(0xCC)},
        {"20 and 100", {0x14, 0x64}, ok(), {"3f40:1464"}},
        {"eight", Bytes(8, 0x50), ok(), {"3f40:" + hex(Bytes(8, 0x50))}},
    };
    check<FakeEeprom>(cases, setFanInitDuty);
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
