// SSH control's lengths and Restore default through the host's dispatcher,
// against the mocked services; the sandbox's stand-in records shutdowns.
#include "host_bus.hpp"
#include "mockbus.hpp"
#include "sandbox.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>

#include <gmock/gmock.h>

using namespace kestrel::test;
using testing::ElementsAre;

static std::size_t shutdownCount()
{
    std::ifstream log(std::string(std::getenv("SB_RUN")) + "/commands.log");
    return std::count(std::istream_iterator<std::string>(log), {}, "shutdown");
}

struct SshRestoreTest : mockbus::MockTest
{
    SshRestoreTest() :
        MockTest({mockbus::network, mockbus::led, mockbus::software,
                  mockbus::stateBmc, mockbus::stateChassis})
    {
    }

    Bytes ask(ipmi::Cmd cmd, const Bytes& data)
    {
        kestrelProvider(); // loaded on first use, as ask() does
        Reply reply = host.send(0x3A, cmd, data);
        reply.data.insert(reply.data.begin(), reply.cc);
        return reply.data;
    }

    /** The calls the mocks recorded since the last look, "path method args". */
    std::vector<std::string> recorded()
    {
        std::vector<std::string> out;
        for (const auto& mock : services)
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

    HostBus host;
};

TEST_F(SshRestoreTest, SshAndRestoreDefaultReachTheirServicesAndShutdown)
{
    // The typed unpacking refuses other lengths before the handlers run
    // (docs/commands.md and the fault test show where SSH is written).
    EXPECT_THAT(ask(0x22, {0x01}), ElementsAre(0xC7));
    EXPECT_THAT(ask(0x23, {0x01, 0x00}), ElementsAre(0xC7));

    // Restore default makes its calls and shuts down after the reply.
    const std::size_t before = shutdownCount();
    EXPECT_THAT(ask(0x66, {}), ElementsAre(0x00));
    EXPECT_THAT(
        recorded(),
        ElementsAre("/xyz/openbmc_project/led/groups/bmc_booted Set "
                    "s:xyz.openbmc_project.Led.Group s:Asserted b:false",
                    "/xyz/openbmc_project/software Reset",
                    "/xyz/openbmc_project/state/bmc0 Set "
                    "s:xyz.openbmc_project.State.BMC s:RequestedBMCTransition "
                    "s:xyz.openbmc_project.State.BMC.Transition.Reboot"));
    // Option 4 shuts down, a second after the reply; one the others started
    // by mistake would show by then.
    auto sent = std::chrono::steady_clock::now();
    EXPECT_THAT(ask(0x66, {0x04}), ElementsAre(0x00));
    EXPECT_THAT(recorded(),
                ElementsAre("/xyz/openbmc_project/state/chassis0 Set "
                            "s:xyz.openbmc_project.State.Chassis "
                            "s:RequestedPowerTransition "
                            "s:xyz.openbmc_project.State.Chassis.Transition."
                            "Off"));
    EXPECT_EQ(shutdownCount(), before); // the reply comes first
    ASSERT_TRUE(waitUntil([&] { return shutdownCount() > before; }));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::seconds(1));
    EXPECT_EQ(shutdownCount(), before + 1);
}
