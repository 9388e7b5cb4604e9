// The intrusion-sensor and PSU-sensor switches through the host's
// dispatcher, against their units on the mocked systemd (docs/commands.md
// shows Get after each).
#include "mockbus.hpp"
#include "provider.hpp"

#include <gmock/gmock.h>

using namespace kestrel::test;
using testing::ElementsAre;

TEST(SensorSwitch, SwitchStartsOrStopsTheUnit)
{
    mockbus::reset(mockbus::systemd);
    const std::string unit = "/org/freedesktop/systemd1/unit/xyz_2eopenbmc_"
                             "5fproject_2e";
    const std::pair<Bytes, std::string> rows[] = {
        {{0x88, 0x00}, unit + "intrusionsensor_2eservice Stop"},
        {{0xE6, 0x00, 0x01}, unit + "psusensor_2eservice Start"}};
    for (const auto& [request, call] : rows)
    {
        // The command, then its data.
        EXPECT_THAT(ask(request[0], {request.begin() + 1, request.end()}),
                    ElementsAre(0x00));
        auto calls = mockbus::allCalls(mockbus::systemd);
        mockbus::clearCalls(mockbus::systemd);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].path + " " + calls[0].method, call);
        EXPECT_THAT(calls[0].args, ElementsAre("s:replace"));
    }
}
