// BIOS POST status, boot complete and BMC interface through the host's
// dispatcher, against the mocked host state and LED group manager.
#include "mockbus.hpp"
#include "provider.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mockbus = kestrel::test::mockbus;
using kestrel::test::Bytes;
using kestrel::test::send;

namespace
{

constexpr auto hostObject = "/xyz/openbmc_project/state/host0";
constexpr auto progress = "xyz.openbmc_project.State.Boot.Progress";
constexpr auto bmcBooted = "/xyz/openbmc_project/led/groups/bmc_booted";
constexpr auto ledGroup = "xyz.openbmc_project.Led.Group";

TEST(BootState, AnswersAndThePublishedStage)
{
    ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    mockbus::reset(mockbus::stateHost);
    mockbus::updateProperty(mockbus::led, bmcBooted, ledGroup, "Asserted", "b",
                            "true");
    const std::tuple<ipmi::NetFn, ipmi::Cmd, Bytes, ipmi::Cc, Bytes> rows[] = {
        {0x3A, 0xBE, {}, 0x00, {0x00}}, // the first request of the process
        {0x3A, 0xBD, {0x03}, 0x00, {}},
        {0x3A, 0xBE, {}, 0x00, {0x03}},
        {0x3A, 0xBD, {0x05}, 0xC1, {}},
        {0x3A, 0xBE, {}, 0x00, {0x03}},
        {0x3A, 0x67, {}, 0x00, {0x01}},
        {0x32, 0x3D, {0x01, 0x00, 0x05}, 0x00, {0x07, 0x00, 0x07}},
        {0x32, 0x3D, {0x01, 0x00, 0x08}, 0xC1, {}},
    };
    for (const auto& [netFn, cmd, request, cc, data] : rows)
    {
        auto r = send(netFn, cmd, request);
        EXPECT_EQ(r.cc, cc) << int{cmd};
        EXPECT_EQ(r.data, data) << int{cmd};
    }
    auto calls = mockbus::allCalls(mockbus::stateHost);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].path, hostObject);
    EXPECT_EQ(calls[0].method, "Set");
    EXPECT_THAT(calls[0].args,
                testing::ElementsAre(std::string("s:") + progress,
                                     "s:BootProgress",
                                     std::string("s:") + progress +
                                         ".ProgressStages.SystemInitComplete"));
}

TEST(BootState, BusFailuresAnswerUnspecifiedError)
{
    ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    mockbus::stopMock("led");
    EXPECT_EQ(send(0x3A, 0x67).cc, 0xFF);
    mockbus::startMock("led");
    mockbus::updateProperty(mockbus::led, bmcBooted, ledGroup, "Asserted", "s",
                            "yes");
    EXPECT_EQ(send(0x3A, 0x67).cc, 0xFF);

    // A refused publish keeps the status.
    mockbus::failMethod(mockbus::stateHost, hostObject,
                        "org.freedesktop.DBus.Properties", "Set", "ssv", "",
                        "xyz.openbmc_project.Common.Error.NotAllowed", "busy");
    EXPECT_EQ(send(0x3A, 0xBD, {0x04}).cc, 0xFF);
    EXPECT_EQ(send(0x3A, 0xBE).data, Bytes{0x04});
}

} // namespace
