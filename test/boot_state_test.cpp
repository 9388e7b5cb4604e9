// BIOS POST status and boot complete, on the host state and LED mocks.
#include "mockbus.hpp"
#include "provider.hpp"

#include <gmock/gmock.h>

using namespace kestrel::test;

TEST(BootState, AnswersThePublishedStage)
{
    mockbus::reset(mockbus::stateHost);
    mockbus::updateProperty(
        mockbus::led, "/xyz/openbmc_project/led/groups/bmc_booted",
        "xyz.openbmc_project.Led.Group", "Asserted", "b", "true");
    // The first request of the process finds status 0; a refused status
    // neither publishes nor replaces the kept one.
    const std::tuple<ipmi::Cmd, Bytes, Bytes> rows[] = {
        {0xBE, {}, {0x00, 0x00}}, {0xBD, {0x03}, {0x00}},
        {0xBD, {0x05}, {0xC1}},   {0xBE, {}, {0x00, 0x03}},
        {0x67, {}, {0x00, 0x01}},
    };
    for (const auto& [cmd, request, expected] : rows)
    {
        EXPECT_EQ(ask(cmd, request), expected) << int{cmd};
    }
    auto calls = mockbus::allCalls(mockbus::stateHost);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_THAT(calls[0].args,
                testing::ElementsAre(
                    "s:xyz.openbmc_project.State.Boot.Progress",
                    "s:BootProgress",
                    "s:xyz.openbmc_project.State.Boot.Progress.ProgressStages."
                    "SystemInitComplete"));
    EXPECT_EQ(calls[0].path + " " + calls[0].method,
              "/xyz/openbmc_project/state/host0 Set");
}
