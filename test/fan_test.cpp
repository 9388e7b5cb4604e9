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

TEST(Fan, SmartFanAndInitDutyReachTheUnitThePwmsAndTheEeprom)
{
    mockbus::reset(mockbus::systemd);
    // The controller probed as hwmon3 (hwmon0 to 2 belong to other drivers
    // or are gone, hwmon7 comes after it), pwm1..6 each.
    const fs::path hwmon = "/sys/bus/platform/drivers/aspeed_pwm_tacho/"
                           "1e786000.pwm-tacho-controller/hwmon";
    fs::remove_all(hwmon);
    for (auto [dir, raw] : {std::pair{"hwmon3", "0\n"}, {"hwmon7", "255\n"}})
    {
        fs::create_directories(hwmon / dir);
        for (int k = 1; k <= 6; ++k)
        {
            writeFile(hwmon / dir / ("pwm" + std::to_string(k)),
                      std::string_view(raw));
        }
    }
    auto pwm = [&hwmon](const char* name) {
        return readTextFile(hwmon / name);
    };
    // A zero in a manual request is the minimum duty.
    EXPECT_THAT(ask(0x01, {0x00, 0x32}), ElementsAre(0x00));
    auto calls = mockbus::allCalls(mockbus::systemd);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(
        calls[0].path + " " + calls[0].method + " " + calls[0].args.at(0),
        "/org/freedesktop/systemd1/unit/phosphor_2dpid_2dcontrol_2eservice"
        " Stop s:replace");
    EXPECT_EQ(pwm("hwmon3/pwm1") + "|" + pwm("hwmon3/pwm2") + "|" +
                  pwm("hwmon3/pwm3") + "|" + pwm("hwmon7/pwm1"),
              "51|127|0\n|255\n");

    // The initial duties: exactly the given bytes, at 0x3F40.
    eraseEeprom(0x3F3F, 10);
    EXPECT_THAT(ask(0x0C, {0x14, 0x32, 0x64}), ElementsAre(0x00));
    EXPECT_EQ(readEeprom(0x3F3F, 10), (Bytes{0xFF, 0x14, 0x32, 0x64, 0xFF, 0xFF,
                                             0xFF, 0xFF, 0xFF, 0xFF}));
}
