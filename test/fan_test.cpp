// Smart fan and fan initial duty through the host's dispatcher: the mocked
// systemd, an hwmon tree under the sandbox's /sys/bus, the EEPROM image.
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <filesystem>

#include <gmock/gmock.h>

namespace fs = std::filesystem;
using namespace kestrel::test;
using testing::ElementsAre;

static const fs::path hwmon = "/sys/bus/platform/drivers/aspeed_pwm_tacho/"
                              "1e786000.pwm-tacho-controller/hwmon";
constexpr auto unit =
    "/org/freedesktop/systemd1/unit/phosphor_2dpid_2dcontrol_2eservice";
constexpr uint32_t tableOffset = 0x3F40;

struct FanTest : mockbus::MockTest
{
    FanTest() : MockTest({mockbus::systemd})
    {
    }

    // The controller probed as hwmon3 (hwmon0 to 2 belong to other drivers
    // or are gone, hwmon7 comes after it), pwm1..6 each.
    void SetUp() override
    {
        MockTest::SetUp();
        fs::remove_all(hwmon);
        for (auto [dir, raw] :
             {std::pair{"hwmon3", "0\n"}, {"hwmon7", "255\n"}})
        {
            for (int k = 1; k <= 6; ++k)
            {
                fs::create_directories(hwmon / dir);
                writeFile(hwmon / dir / ("pwm" + std::to_string(k)),
                          std::string_view(raw));
            }
        }
    }
};

TEST_F(FanTest, SmartFanAndInitDutyReachTheUnitThePwmsAndTheEeprom)
{
    auto pwm = [](const char* name) { return readTextFile(hwmon / name); };
    // A zero in a manual request is the minimum duty.
    EXPECT_THAT(ask(0x01, {0x00, 0x32}), ElementsAre(0x00));
    auto calls = mockbus::allCalls(mockbus::systemd);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].path + " " + calls[0].method + " " + calls[0].args.at(0),
              std::string(unit) + " Stop s:replace");
    EXPECT_EQ(pwm("hwmon3/pwm1") + "|" + pwm("hwmon3/pwm2") + "|" +
                  pwm("hwmon3/pwm3") + "|" + pwm("hwmon7/pwm1"),
              "51|127|0\n|255\n");
    EXPECT_EQ(ask(0x02, {0x01, 0x02}), (Bytes{0x00, 20, 49, 0, 0, 0, 0, 0, 0}));

    // The initial duties: exactly the given bytes, and the table read back.
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
}
