// Smart fan control against a fake systemd and a fake hwmon tree.
#include "dbus_names.hpp"
#include "fakes.hpp"
#include "smart_fan.hpp"

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using smart_fan::getSmartFan;
using smart_fan::percentToRaw;
using smart_fan::rawToPercent;
using smart_fan::setSmartFan;
using testing::ElementsAre;
using testing::IsEmpty;

constexpr auto base = "/scratch/hwmon/hwmon";
const std::string fanControl = dbus::unitFanControl;

/** Directories that open and attributes that exist; like sysfs, a write
 *  never creates an attribute. */
struct FakePwm : smart_fan::PwmFiles
{
    std::set<std::string> dirs;
    std::map<std::string, std::string> files;
    std::vector<std::pair<std::string, std::string>> writes;
    int lookups = 0;

    bool directoryOpens(const std::string& path) override
    {
        ++lookups;
        return dirs.contains(path);
    }
    void write(const std::string& path, const std::string& text) override
    {
        writes.emplace_back(path, text);
        if (files.contains(path))
        {
            files[path] = text;
        }
    }
    std::optional<std::string> read(const std::string& path) override
    {
        auto it = files.find(path);
        if (it == files.end() || it->second.empty())
        {
            return std::nullopt;
        }
        return it->second.substr(0, 4);
    }

    /** hwmon<index> with `outputs` attributes holding `raw`. */
    void controller(int index, int outputs, const std::string& raw)
    {
        std::string dir = base + std::to_string(index);
        dirs.insert(dir);
        for (int k = 1; k <= outputs; ++k)
        {
            files[dir + "/pwm" + std::to_string(k)] = raw;
        }
    }
};

std::string pwm(int k, int index = 3)
{
    return base + std::to_string(index) + "/pwm" + std::to_string(k);
}

TEST(SmartFan, Conversions)
{
    const std::pair<uint8_t, unsigned> toRaw[] = {
        {0, 51},   {1, 51},    {19, 51},   {20, 51},  {21, 53},
        {50, 127}, {100, 255}, {101, 257}, {255, 650}};
    for (auto [percent, raw] : toRaw)
    {
        EXPECT_EQ(percentToRaw(percent), raw) << int(percent);
    }
    const std::pair<int, uint8_t> toPercent[] = {
        {0, 0}, {2, 0}, {3, 1}, {51, 20}, {127, 49}, {254, 99}, {255, 100}};
    for (auto [raw, percent] : toPercent)
    {
        EXPECT_EQ(rawToPercent(raw), percent) << raw;
    }
}

TEST(SmartFan, TheFirstIndexThatOpensIsTheController)
{
    FakePwm files;
    EXPECT_EQ(smart_fan::findHwmonDir(files, base), std::string(base) + "254");
    EXPECT_EQ(files.lookups, 255);
    files.dirs = {std::string(base) + "254"};
    EXPECT_EQ(smart_fan::findHwmonDir(files, base), std::string(base) + "254");
    files.dirs = {std::string(base) + "7", std::string(base) + "3"};
    files.lookups = 0;
    EXPECT_EQ(smart_fan::findHwmonDir(files, base), std::string(base) + "3");
    EXPECT_EQ(files.lookups, 4);
}

TEST(SmartFan, SetRequests)
{
    struct SetCase
    {
        const char* name;
        Bytes request;
        std::vector<std::string> calls;
        std::vector<std::pair<std::string, std::string>> writes;
    };
    const SetCase cases[] = {
        {"empty is automatic", {}, {"Start " + fanControl}, {}},
        {"all zero is automatic", Bytes(12, 0x00), {"Start " + fanControl}, {}},
        {"one duty", {0x32}, {"Stop " + fanControl}, {{pwm(1), "127"}}},
        {"zero beside a duty is the minimum",
         {0x00, 0x32},
         {"Stop " + fanControl},
         {{pwm(1), "51"}, {pwm(2), "127"}}},
        {"out of range goes to the driver",
         {0x65, 0xFF},
         {"Stop " + fanControl},
         {{pwm(1), "257"}, {pwm(2), "650"}}},
    };
    for (const auto& c : cases)
    {
        FakeUnits units;
        FakePwm files;
        files.controller(3, 6, "0");
        EXPECT_EQ(setSmartFan(c.request, units, files, base), success())
            << c.name;
        EXPECT_EQ(units.calls, c.calls) << c.name;
        EXPECT_EQ(files.writes, c.writes) << c.name;
    }
}

TEST(SmartFan, SetWritesEveryGivenOutputWhetherOrNotItExists)
{
    FakeUnits units;
    FakePwm files;
    files.controller(3, 6, "0");
    EXPECT_EQ(
        setSmartFan(Bytes{50, 60, 70, 80, 90, 100, 40, 30}, units, files, base),
        success());
    ASSERT_EQ(files.writes.size(), 8u);
    EXPECT_EQ(files.writes[7], (std::pair{pwm(8), std::string("76")}));
    EXPECT_FALSE(files.files.contains(pwm(7)));

    // Without a controller the writes go to the last candidate and fail.
    FakePwm none;
    EXPECT_EQ(setSmartFan(Bytes{0x32}, units, none, base), success());
    EXPECT_THAT(none.writes, ElementsAre(std::pair{pwm(1, 254), "127"}));
}

TEST(SmartFan, AFailedStopWritesNoDuty)
{
    FakeUnits units;
    units.fail = true;
    FakePwm files;
    files.controller(3, 6, "0");
    EXPECT_THROW(setSmartFan(Bytes{0x50}, units, files, base), BusFailure);
    EXPECT_THAT(files.writes, IsEmpty());
    EXPECT_EQ(files.lookups, 0);
    EXPECT_THROW(setSmartFan(Bytes{0x00}, units, files, base), BusFailure);
}

TEST(SmartFan, GetReportsEightDuties)
{
    FakePwm files;
    files.controller(3, 6, "255\n");
    files.files[pwm(2)] = "127\n";
    files.files[pwm(4)] = "";
    // Request bytes are ignored.
    EXPECT_EQ(getSmartFan(Bytes{0x01, 0x02}, files, base),
              success({100, 49, 100, 0, 100, 100, 0, 0}));
    EXPECT_THAT(files.writes, IsEmpty());
}

TEST(SmartFan, GetWithoutDutiesOrWithGarbage)
{
    FakePwm none;
    EXPECT_EQ(getSmartFan({}, none, base), failure(0xFF));
    none.controller(0, 2, "");
    EXPECT_EQ(getSmartFan({}, none, base), failure(0xFF));

    FakePwm garbage;
    garbage.controller(0, 1, "x");
    EXPECT_THROW(getSmartFan({}, garbage, base), std::invalid_argument);
}

} // namespace
} // namespace kestrel::test
