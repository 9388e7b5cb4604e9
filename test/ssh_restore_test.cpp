// SSH control and Restore default through the host's dispatcher, against
// the mocked services; the sandbox's stand-in records shutdowns.
#include "host_bus.hpp"
#include "mockbus.hpp"
#include "sandbox.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace kestrel::test;
using testing::ElementsAre;
using testing::IsEmpty;
using Clock = std::chrono::steady_clock;

namespace
{

constexpr auto ethInterface = "xyz.openbmc_project.Network.EthernetInterface";
constexpr auto notAllowed = "xyz.openbmc_project.Common.Error.NotAllowed";
const std::vector<mockbus::Service> restoreMocks = {
    mockbus::led, mockbus::software, mockbus::stateBmc, mockbus::stateChassis};

std::size_t shutdownCount()
{
    std::ifstream log(std::string(std::getenv("SB_RUN")) + "/commands.log");
    return std::count(std::istream_iterator<std::string>(log), {}, "shutdown");
}

/** The calls the mocks recorded since the last look, "path method args". */
std::vector<std::string> recorded(const std::vector<mockbus::Service>& mocks)
{
    std::vector<std::string> out;
    for (const auto& mock : mocks)
    {
        for (const auto& call : mockbus::allCalls(mock))
        {
            out.push_back(call.path + " " + call.method);
            for (const auto& arg : call.args)
            {
                out.back() += " " + arg;
            }
        }
        mockbus::clearCalls(mock);
    }
    return out;
}

struct SshRestoreTest : mockbus::MockTest
{
    SshRestoreTest() :
        MockTest({mockbus::network, mockbus::led, mockbus::software,
                  mockbus::stateBmc, mockbus::stateChassis})
    {
    }

    /** The completion code followed by the response bytes. */
    Bytes ask(ipmi::Cmd cmd, const Bytes& data)
    {
        kestrelProvider(); // loaded on first use
        Reply reply = host.send(0x3A, cmd, data);
        reply.data.insert(reply.data.begin(), reply.cc);
        return reply.data;
    }

    HostBus host;
};

TEST_F(SshRestoreTest, SshSetAndGetUseTheNumberedInterface)
{
    const char* names[] = {"usb0", "eth0", "eth1", "eth2"};
    for (uint8_t number = 0; number < 4; ++number)
    {
        const std::string path =
            std::string("/xyz/openbmc_project/network/") + names[number];
        const std::string set = path + " Set s:" + ethInterface + " s:SSH ";
        EXPECT_THAT(ask(0x22, {number, 0x00}), ElementsAre(0x00));
        EXPECT_THAT(ask(0x23, {number}), ElementsAre(0x00, 0x00));
        EXPECT_THAT(ask(0x22, {number, 0x01}), ElementsAre(0x00));
        EXPECT_THAT(recorded({mockbus::network}),
                    ElementsAre(set + "b:false", set + "b:true"));
    }
    EXPECT_THAT(ask(0x22, {0x04, 0x01}), ElementsAre(0xCC));
    EXPECT_THAT(ask(0x23, {0x04}), ElementsAre(0xCC));
    // The typed unpacking refuses other lengths before the handlers run.
    EXPECT_THAT(ask(0x22, {0x01}), ElementsAre(0xC7));
    EXPECT_THAT(ask(0x23, {0x01, 0x00}), ElementsAre(0xC7));
    EXPECT_THAT(recorded({mockbus::network}), IsEmpty());
}

TEST_F(SshRestoreTest, SshFailedReadsAndRefusedWrites)
{
    // eth2's value is no boolean: a failed read, like an absent service.
    mockbus::updateProperty(mockbus::network,
                            "/xyz/openbmc_project/network/eth2", ethInterface,
                            "SSH", "s", "yes");
    EXPECT_THAT(ask(0x22, {0x03, 0x00}), ElementsAre(0xCC));
    EXPECT_THAT(ask(0x23, {0x03}), ElementsAre(0xCC));
    mockbus::failSet(mockbus::network, "/xyz/openbmc_project/network/eth0",
                     "SSH", notAllowed, "denied");
    EXPECT_THAT(ask(0x22, {0x01, 0x00}), ElementsAre(0xFF));
    EXPECT_THAT(ask(0x23, {0x01}), ElementsAre(0x00, 0x01));
}

TEST_F(SshRestoreTest, RestoreMakesEachActionsCallsAndShutsDownAfterTheReply)
{
    const std::tuple<Bytes, uint8_t, std::vector<std::string>> cases[] = {
        {{},
         0x00,
         {"/xyz/openbmc_project/led/groups/bmc_booted Set "
          "s:xyz.openbmc_project.Led.Group s:Asserted b:false",
          "/xyz/openbmc_project/software Reset",
          "/xyz/openbmc_project/state/bmc0 Set s:xyz.openbmc_project.State.BMC "
          "s:RequestedBMCTransition "
          "s:xyz.openbmc_project.State.BMC.Transition.Reboot"}},
        {{0x00}, 0xCC, {}},
        {{0x01, 0x01}, 0xC7, {}},
        // The only one here with a shutdown, last: one the others started by
        // mistake would show by the time it has run.
        {{0x04},
         0x00,
         {"/xyz/openbmc_project/state/chassis0 Set "
          "s:xyz.openbmc_project.State.Chassis s:RequestedPowerTransition "
          "s:xyz.openbmc_project.State.Chassis.Transition.Off"}},
    };
    const std::size_t before = shutdownCount();
    auto sent = Clock::now();
    for (const auto& [request, cc, calls] : cases)
    {
        sent = Clock::now();
        EXPECT_THAT(ask(0x66, request), ElementsAre(cc));
        EXPECT_EQ(recorded(restoreMocks), calls);
        EXPECT_EQ(shutdownCount(), before); // the reply comes first
    }
    // The shutdown waits a second.
    ASSERT_TRUE(waitUntil([&] { return shutdownCount() > before; }));
    EXPECT_GE(Clock::now() - sent, std::chrono::seconds(1));
    EXPECT_EQ(shutdownCount(), before + 1);
}

TEST_F(SshRestoreTest, RestoreFailuresStillRunEveryAction)
{
    mockbus::failMethod(mockbus::software, "/xyz/openbmc_project/software",
                        "xyz.openbmc_project.Common.FactoryReset", "Reset", "",
                        "", notAllowed, "busy");
    EXPECT_THAT(ask(0x66, {0x01}), ElementsAre(0xFF));
    EXPECT_EQ(recorded(restoreMocks).size(), 3u);
    mockbus::stopMock(mockbus::software);
    EXPECT_THAT(ask(0x66, {0x05}), ElementsAre(0xFF));
}

} // namespace
