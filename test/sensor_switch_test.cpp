// The intrusion-sensor and PSU-sensor switches through the host's
// dispatcher, against their units on the mocked systemd.
#include "mockbus.hpp"
#include "provider.hpp"

#include <gmock/gmock.h>

using namespace kestrel::test;
using testing::ElementsAre;

TEST(SensorSwitch, SwitchStartsOrStopsTheUnitAndGetReportsIt)
{
    mockbus::reset(mockbus::systemd);
    const std::string unit = "/org/freedesktop/systemd1/unit/xyz_2eopenbmc_"
                             "5fproject_2e";
    // Set, Get, the selector, the value and the unit's call.
    const std::tuple<ipmi::Cmd, ipmi::Cmd, Bytes, uint8_t, std::string> rows[] =
        {{0x88, 0x89, {}, 0, unit + "intrusionsensor_2eservice Stop"},
         {0xE6, 0xE7, {0x00}, 1, unit + "psusensor_2eservice Start"}};
    for (const auto& [set, get, selector, value, call] : rows)
    {
        Bytes request = selector;
        request.push_back(value);
        EXPECT_THAT(ask(set, request), ElementsAre(0x00));
        auto calls = mockbus::allCalls(mockbus::systemd);
        mockbus::clearCalls(mockbus::systemd);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].path + " " + calls[0].method, call);
        EXPECT_THAT(calls[0].args, ElementsAre("s:replace"));
        EXPECT_THAT(ask(get, selector), ElementsAre(0x00, value));
    }
}
