// Smart fan control and fan initial duty through the host's dispatcher: the
// fan controller's unit on the mocked systemd, the PWM attributes of an
// hwmon tree under the sandbox's /sys/bus, and the board EEPROM image.
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace kestrel::test;
using testing::ElementsAre;

namespace
{

const fs::path hwmon = "/sys/bus/platform/drivers/aspeed_pwm_tacho/"
                       "1e786000.pwm-tacho-controller/hwmon";
constexpr auto unit =
    "/org/freedesktop/systemd1/unit/phosphor_2dpid_2dcontrol_2eservice";
constexpr uint32_t tableOffset = 0x3F40;

/** hwmon<index>/pwm1..6 holding `raw`. */
void makeHwmon(int index, const std::string& raw, int outputs = 6)
{
    fs::create_directories(hwmon / ("hwmon" + std::to_string(index)));
    for (int k = 1; k <= outputs; ++k)
    {
        writeFile(hwmon / ("hwmon" + std::to_string(index)) /
                      ("pwm" + std::to_string(k)),
                  raw);
    }
}

struct FanTest : mockbus::MockTest
{
    FanTest() : MockTest({mockbus::systemd})
    {
    }

    // The controller probed as hwmon3 (hwmon0 to 2 belong to other drivers
    // or are gone, hwmon7 comes after it).
    void SetUp() override
    {
        MockTest::SetUp();
        fs::remove_all(hwmon);
        makeHwmon(3, "0\n");
        makeHwmon(7, "255\n");
    }
};

TEST_F(FanTest, SetSmartFanSwitchesTheControllerWritesDutiesAndGetReadsThem)
{
    const std::tuple<Bytes, const char*, std::string, Bytes> cases[] = {
        {{}, "Start", "0\n|0\n|0\n|", {0x00, 0, 0, 0, 0, 0, 0, 0, 0}},
        // A zero in a manual request is the minimum duty.
        {{0x00, 0x32}, "Stop", "51|127|0\n|", {0x00, 20, 49, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& [request, method, pwm, get] : cases)
    {
        mockbus::clearCalls(mockbus::systemd);
        EXPECT_THAT(ask(0x01, request), ElementsAre(0x00));
        auto calls = mockbus::allCalls(mockbus::systemd);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].path + " " + calls[0].method + " " +
                      calls[0].args.at(0),
                  std::string(unit) + " " + method + " s:replace");
        std::string written; // pwm1..3 of hwmon3
        for (const char* name : {"pwm1", "pwm2", "pwm3"})
        {
            written += readTextFile(hwmon / "hwmon3" / name) + "|";
        }
        EXPECT_EQ(written, pwm);
        EXPECT_EQ(readTextFile(hwmon / "hwmon7/pwm1"), "255\n");
        EXPECT_EQ(ask(0x02, {0x01, 0x02}), get); // request bytes ignored
    }
}

TEST_F(FanTest, SmartFanFailuresOfTheBusAndTheTree)
{
    mockbus::failMethod(mockbus::systemd, unit, "org.freedesktop.systemd1.Unit",
                        "Stop", "s", "o", "org.freedesktop.systemd1.NoSuchUnit",
                        "gone");
    EXPECT_THAT(ask(0x01, {0x50}), ElementsAre(0xFF));
    EXPECT_EQ(readTextFile(hwmon / "hwmon3/pwm1"), "0\n");
    fs::remove_all(hwmon);
    EXPECT_THAT(ask(0x02), ElementsAre(0xFF));
}

TEST_F(FanTest, InitDutyWritesExactlyTheGivenBytesAndReadsBackTheTable)
{
    writeEeprom(tableOffset,
                Bytes{0x14, 0x14, 0x14, 0x30, 0x13, 0xFF, 0x64, 0x65});
    Bytes image = readEeprom(tableOffset - 1, 10);
    EXPECT_THAT(ask(0x0C, {0x14, 0x32, 0x64}), ElementsAre(0x00));
    image[2] = 0x32;
    image[3] = 0x64;
    EXPECT_EQ(readEeprom(tableOffset - 1, 10), image);
    // Stored bytes outside 20..100 read as 0.
    EXPECT_THAT(ask(0x0D),
                ElementsAre(0x00, 0x14, 0x32, 0x64, 0x30, 0, 0, 0x64, 0));
    EXPECT_THAT(ask(0x0C, {0x32, 0x65}), ElementsAre(0xCC));
    EXPECT_EQ(readEeprom(tableOffset - 1, 10), image);

    // An image that ends before the table: both directions fail.
    const auto whole = readFile(EEPROM_PATH);
    std::filesystem::resize_file(EEPROM_PATH, tableOffset);
    EXPECT_THAT(ask(0x0C, {0x32}), ElementsAre(0xFF));
    EXPECT_THAT(ask(0x0D), ElementsAre(0xFF));
    writeFile(EEPROM_PATH, whole);
}

} // namespace
