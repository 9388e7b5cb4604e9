// BIOS POST status, boot complete and BMC interface, on the host state mocks.
#include "mockbus.hpp"
#include "provider.hpp"

#include <gtest/gtest.h>

using namespace kestrel::test;

constexpr auto host = "/xyz/openbmc_project/state/host0";
constexpr auto bmcBooted = "/xyz/openbmc_project/led/groups/bmc_booted";
constexpr auto ledGroup = "xyz.openbmc_project.Led.Group";

TEST(BootState, AnswersThePublishedStage)
{
    mockbus::reset(mockbus::stateHost);
    mockbus::updateProperty(mockbus::led, bmcBooted, ledGroup, "Asserted", "b",
                            "true");
    // The first request of the process finds status 0.
    const std::tuple<ipmi::Cmd, Bytes, Bytes> rows[] = {
        {0xBE, {}, {0x00, 0x00}}, {0xBD, {0x03}, {0x00}},
        {0xBE, {}, {0x00, 0x03}}, {0xBD, {0x05}, {0xC1}},
        {0xBE, {}, {0x00, 0x03}}, {0x67, {}, {0x00, 0x01}},
    };
    for (const auto& [cmd, request, expected] : rows)
    {
        EXPECT_EQ(ask(cmd, request), expected) << int{cmd};
    }
    auto calls = mockbus::allCalls(mockbus::stateHost);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].path + " " + calls[0].method,
              std::string(host) + " Set");
    EXPECT_EQ(calls[0].args,
              (std::vector<std::string>{
                  "s:xyz.openbmc_project.State.Boot.Progress", "s:BootProgress",
                  "s:xyz.openbmc_project.State.Boot.Progress.ProgressStages."
                  "SystemInitComplete"}));
    // Get BMC Interface is on NetFn 0x32 (ipmitool_test sees its answer).
    EXPECT_EQ(send(0x32, 0x3D, {0x01, 0x00, 0x08}).cc, 0xC1);
}
