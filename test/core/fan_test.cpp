// Smart fan control against a fake systemd and hwmon tree, and the fan
// initial duties against a fake EEPROM.
#include "dbus_names.hpp"
#include "fakes.hpp"
#include "fan_init_duty.hpp"
#include "smart_fan.hpp"

#include <set>

namespace kestrel::test::fan_cases
{

using namespace smart_fan;
using namespace fan_init_duty;

const std::string fan = dbus::unitFanControl;

/** The controller's unit and hwmon tree: the directories that open and the
 *  attributes' texts. */
struct FakeFan : FakeUnits, PwmFiles
{
    std::set<std::string> dirs = {"hwmon3"};
    std::map<std::string, std::string> files;

    bool directoryOpens(const std::string& path) override
    {
        calls.push_back("open " + path);
        return dirs.contains(path);
    }
    void write(const std::string& path, const std::string& text) override
    {
        calls.push_back(path + " " + text);
    }
    std::optional<std::string> read(const std::string& path) override
    {
        auto it = files.find(path);
        bool none = it == files.end() || it->second.empty();
        return none ? std::nullopt : std::optional(it->second.substr(0, 4));
    }
};

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
    const Strings stop = {"Stop " + fan, "open hwmon0", "open hwmon1",
                          "open hwmon2", "open hwmon3"};
    const std::string pwm1 = "hwmon3/pwm1 51", pwm2 = "hwmon3/pwm2 127";
    const Case cases[] = {
        {"empty is automatic", {}, success(), {"Start " + fan}},
        {"all zero is automatic", Bytes(9), success(), {"Start " + fan}},
        {"0 is the minimum", {0, 50}, success(), cat(stop, {pwm1, pwm2})},
    };
    check<FakeFan>(cases, set);
    // Without a controller the last candidate is used, and fails.
    FakeFan none;
    none.dirs = {};
    EXPECT_EQ(set(Bytes{0x65}, none), success());
    EXPECT_EQ(none.calls.size(), 1 + 255 + 1u);
    EXPECT_EQ(none.calls.back(), "hwmon254/pwm1 257");
    FakeFan failing;
    failing.fail = true;
    EXPECT_THROW(set(Bytes{0x50}, failing), BusFailure);
    EXPECT_EQ(failing.calls, Strings{});
}

TEST(SmartFan, Get)
{
    FakeFan f;
    for (int k = 1; k <= 6; ++k)
    {
        f.files["hwmon3/pwm" + std::to_string(k)] = "255\n";
    }
    f.files["hwmon3/pwm2"] = "127\n";
    f.files["hwmon3/pwm4"] = "";
    EXPECT_EQ(getSmartFan(Bytes{0x01}, f, "hwmon"),
              success({100, 49, 100, 0, 100, 100, 0, 0}));
    f.files = {{"hwmon3/pwm1", "x"}};
    EXPECT_THROW(getSmartFan({}, f, "hwmon"), std::invalid_argument);
    f.files = {};
    EXPECT_EQ(getSmartFan({}, f, "hwmon"), failure(0xFF));
}

TEST(FanInitDuty, SetAndGet)
{
    const Case cases[] = {
        {"empty", {}, failure(0xCC)},
        {"nine duties", Bytes(9, 0x32), failure(0xCC)},
        {"below 20", {0x32, 0x13}, failure(0xCC)},
        {"above 100", {0x64, 0x65}, failure(0xCC)},
        {"20 and 100", {0x14, 0x64}, success(), {"3f40:1464"}},
        {"eight", Bytes(8, 0x50), success(), {"3f40:" + hex(Bytes(8, 0x50))}},
    };
    check<FakeEeprom>(cases, setFanInitDuty);
    FakeEeprom eeprom;
    EXPECT_EQ(getFanInitDuty(eeprom), success(Bytes(8, 0x00))); // erased
    eeprom.put(tableOffset, {0x14, 0x32, 0x64, 0x30, 0x13, 0xFF, 0x64, 0x65});
    EXPECT_EQ(getFanInitDuty(eeprom),
              success({0x14, 0x32, 0x64, 0x30, 0x00, 0x00, 0x64, 0x00}));
    eeprom.failAt = tableOffset;
    EXPECT_EQ(getFanInitDuty(eeprom), failure(0xFF));
    EXPECT_EQ(setFanInitDuty(Bytes{0x32}, eeprom), failure(0xFF));
}

} // namespace kestrel::test::fan_cases
