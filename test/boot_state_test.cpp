// BIOS POST status, boot complete and BMC interface through the host's
// dispatcher, against the mocked host state and LED group manager.
#include "host_bus.hpp"
#include "mockbus.hpp"
#include "sandbox.hpp"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mockbus = kestrel::test::mockbus;
using kestrel::test::Reply;
using testing::ElementsAre;
using testing::IsEmpty;

namespace
{

constexpr ipmi::NetFn netFn = 0x3A;
constexpr ipmi::Cmd cmdSetPost = 0xBD;
constexpr ipmi::Cmd cmdGetPost = 0xBE;
constexpr ipmi::Cmd cmdBootComplete = 0x67;

constexpr auto hostObject = "/xyz/openbmc_project/state/host0";
constexpr auto progressInterface = "xyz.openbmc_project.State.Boot.Progress";
constexpr auto stagePrefix =
    "s:xyz.openbmc_project.State.Boot.Progress.ProgressStages.";
constexpr auto bmcBooted = "/xyz/openbmc_project/led/groups/bmc_booted";
constexpr auto ledInterface = "xyz.openbmc_project.Led.Group";

class BootStateTest : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        postStatus = kestrel::test::providerSymbol<uint8_t*>("BiosPostStatus");
        ASSERT_NE(postStatus, nullptr);
        firstGet = kestrel::test::send(netFn, cmdGetPost);
    }

    void SetUp() override
    {
        mockbus::reset(mockbus::stateHost);
        mockbus::reset(mockbus::led);
    }

    std::string bootProgress()
    {
        return mockbus::getProperty(mockbus::stateHost, hostObject,
                                    progressInterface, "BootProgress");
    }

    kestrel::test::HostBus host;
    static inline uint8_t* postStatus = nullptr;
    static inline Reply firstGet;
};

TEST_F(BootStateTest, PostStatusIsZeroBeforeAnySet)
{
    EXPECT_EQ(firstGet.cc, 0x00);
    EXPECT_THAT(firstGet.data, ElementsAre(0x00));
}

TEST_F(BootStateTest, EachStatusPublishesItsStage)
{
    const std::vector<std::pair<uint8_t, std::string>> stages = {
        {0x00, "Unspecified"},
        {0x01, "Unspecified"},
        {0x02, "SystemInitComplete"},
        {0x03, "SystemInitComplete"},
        {0x04, "OSStart"},
    };
    for (const auto& [status, stage] : stages)
    {
        SCOPED_TRACE(int(status));
        Reply set = host.send(netFn, cmdSetPost, {status});
        EXPECT_EQ(set.cc, 0x00);
        EXPECT_THAT(set.data, IsEmpty());
        EXPECT_EQ(bootProgress(), stagePrefix + stage);
        Reply get = host.send(netFn, cmdGetPost);
        EXPECT_EQ(get.cc, 0x00);
        EXPECT_THAT(get.data, ElementsAre(status));
    }

    auto calls = mockbus::allCalls(mockbus::stateHost);
    ASSERT_EQ(calls.size(), stages.size());
    EXPECT_EQ(calls[3].path, hostObject);
    EXPECT_EQ(calls[3].method, "Set");
    EXPECT_THAT(calls[3].args,
                ElementsAre(std::string("s:") + progressInterface,
                            "s:BootProgress",
                            std::string(stagePrefix) + "SystemInitComplete"));
}

TEST_F(BootStateTest, RejectedOrShortSetChangesNothing)
{
    ASSERT_EQ(host.send(netFn, cmdSetPost, {0x03}).cc, 0x00);
    mockbus::clearCalls(mockbus::stateHost);

    for (const std::vector<uint8_t>& request :
         {std::vector<uint8_t>{0x05}, std::vector<uint8_t>{0xFF},
          std::vector<uint8_t>{}})
    {
        Reply r = host.send(netFn, cmdSetPost, request);
        EXPECT_EQ(r.cc, request.empty() ? 0xC7 : 0xC1);
        EXPECT_THAT(r.data, IsEmpty());
    }
    EXPECT_THAT(host.send(netFn, cmdGetPost).data, ElementsAre(0x03));
    EXPECT_THAT(mockbus::allCalls(mockbus::stateHost), IsEmpty());
}

TEST_F(BootStateTest, FailedPublishKeepsTheStatusAndTheHostServes)
{
    mockbus::failMethod(mockbus::stateHost, hostObject,
                        "org.freedesktop.DBus.Properties", "Set", "ssv", "",
                        "xyz.openbmc_project.Common.Error.NotAllowed", "busy");
    Reply r = host.send(netFn, cmdSetPost, {0x04});
    EXPECT_EQ(r.cc, 0xFF);
    EXPECT_THAT(r.data, IsEmpty());
    EXPECT_EQ(*postStatus, 0x04);
    EXPECT_THAT(host.send(netFn, cmdGetPost).data, ElementsAre(0x04));
}

TEST_F(BootStateTest, BootCompleteFollowsTheBootedLedGroup)
{
    mockbus::updateProperty(mockbus::led, bmcBooted, ledInterface, "Asserted",
                            "b", "true");
    Reply r = host.send(netFn, cmdBootComplete);
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, ElementsAre(0x01));

    mockbus::updateProperty(mockbus::led, bmcBooted, ledInterface, "Asserted",
                            "b", "false");
    EXPECT_THAT(host.send(netFn, cmdBootComplete).data, ElementsAre(0x00));
    // Request bytes are ignored.
    EXPECT_THAT(host.send(netFn, cmdBootComplete, {0x01, 0x02}).data,
                ElementsAre(0x00));

    mockbus::updateProperty(mockbus::led, bmcBooted, ledInterface, "Asserted",
                            "s", "yes");
    r = host.send(netFn, cmdBootComplete);
    EXPECT_EQ(r.cc, 0xFF);
    EXPECT_THAT(r.data, IsEmpty());
}

TEST_F(BootStateTest, BootCompleteWithoutTheLedManagerAnswersAnError)
{
    std::size_t mark = kestrel::test::journalMark();
    mockbus::stopMock("led");
    Reply r = host.send(netFn, cmdBootComplete);
    mockbus::startMock("led");
    EXPECT_EQ(r.cc, 0xFF);
    EXPECT_THAT(r.data, IsEmpty());
    auto logged = kestrel::test::waitForJournal(
        "Legacy Handler failed to catch exception", mark);
    ASSERT_TRUE(logged);
    EXPECT_EQ((*logged)["CMD"], "67");
    EXPECT_THAT(
        (*logged)["EXCEPTION"],
        testing::StartsWith("sd_bus_call: "
                            "org.freedesktop.DBus.Error.ServiceUnknown"));
    // The host keeps serving.
    EXPECT_EQ(host.send(netFn, cmdGetPost).cc, 0x00);
    EXPECT_THAT(host.send(netFn, cmdBootComplete).data, ElementsAre(0x00));
}

TEST_F(BootStateTest, BmcInterfaceAnswersPerMaskBit)
{
    const ipmi::NetFn fn = 0x32;
    const ipmi::Cmd cmd = 0x3D;
    Reply r = host.send(fn, cmd, {0x01, 0x00, 0x05});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, ElementsAre(0x07, 0x00, 0x07));
    EXPECT_THAT(host.send(fn, cmd, {0x01, 0x00, 0x00}).data,
                ElementsAre(0x00, 0x00, 0x00));
    EXPECT_THAT(host.send(fn, cmd, {0x01, 0x00, 0x07, 0x99}).data,
                ElementsAre(0x07, 0x07, 0x07));

    for (const std::vector<uint8_t>& bad :
         {std::vector<uint8_t>{0x01, 0x00, 0x08},
          std::vector<uint8_t>{0x02, 0x00, 0x01},
          std::vector<uint8_t>{0x01, 0x01, 0x01}})
    {
        r = host.send(fn, cmd, bad);
        EXPECT_EQ(r.cc, 0xC1);
        EXPECT_THAT(r.data, IsEmpty());
    }
    for (const std::vector<uint8_t>& shortRequest :
         {std::vector<uint8_t>{}, std::vector<uint8_t>{0x01, 0x00}})
    {
        r = host.send(fn, cmd, shortRequest);
        EXPECT_EQ(r.cc, 0xC7);
        EXPECT_THAT(r.data, IsEmpty());
    }
}

} // namespace
