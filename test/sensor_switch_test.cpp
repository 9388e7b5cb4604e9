// The intrusion-sensor and PSU-sensor switches through the host's
// dispatcher, against their units on the mocked systemd.
#include "mockbus.hpp"
#include "provider.hpp"

#include <gmock/gmock.h>

using namespace kestrel::test;
using testing::ElementsAre;

struct SensorSwitchTest : mockbus::MockTest
{
    SensorSwitchTest() : MockTest({mockbus::systemd})
    {
    }
};

TEST_F(SensorSwitchTest, SwitchStartsOrStopsTheUnitAndGetReportsIt)
{
    const std::string unit = "/org/freedesktop/systemd1/unit/xyz_2eopenbmc_"
                             "5fproject_2e";
    const std::tuple<ipmi::Cmd, ipmi::Cmd, Bytes, std::string> switches[] = {
        {0x88, 0x89, {}, unit + "intrusionsensor_2eservice "},
        {0xE6, 0xE7, {0x00}, unit + "psusensor_2eservice "}};
    for (const auto& [set, get, selector, path] : switches)
    {
        for (auto [value, method] : {std::pair{0, "Stop"}, {1, "Start"}})
        {
            Bytes request = selector;
            request.push_back(uint8_t(value));
            EXPECT_THAT(ask(set, request), ElementsAre(0x00));
            auto calls = mockbus::allCalls(mockbus::systemd);
            mockbus::clearCalls(mockbus::systemd);
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].path + " " + calls[0].method, path + method);
            EXPECT_THAT(calls[0].args, ElementsAre("s:replace"));
            EXPECT_THAT(ask(get, selector), ElementsAre(0x00, value));
        }
        EXPECT_THAT(ask(set, selector), ElementsAre(0xC7));
    }
}
