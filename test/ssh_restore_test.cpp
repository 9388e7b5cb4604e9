// SSH control and restore default through the host's dispatcher, against the
// mocked network service, LED group manager, software updater and BMC and
// chassis state managers.  Shutdowns are recorded by the sandbox's stand-in.
#include "host_bus.hpp"
#include "mockbus.hpp"
#include "sandbox.hpp"

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <sdbusplus/bus/match.hpp>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mockbus = kestrel::test::mockbus;
using kestrel::test::Reply;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace
{

constexpr ipmi::NetFn netFn = 0x3A;
constexpr ipmi::Cmd cmdSshSet = 0x22;
constexpr ipmi::Cmd cmdSshGet = 0x23;
constexpr ipmi::Cmd cmdRestore = 0x66;

constexpr auto ethInterface = "xyz.openbmc_project.Network.EthernetInterface";
const std::vector<std::string> interfaceNames = {"usb0", "eth0", "eth1",
                                                 "eth2"};
constexpr auto notAllowed = "xyz.openbmc_project.Common.Error.NotAllowed";

std::string ifacePath(const std::string& name)
{
    return "/xyz/openbmc_project/network/" + name;
}

// One D-Bus action of Restore default: the mock it goes to, the object, and
// the call as "method args..." the way the mock logs it.
struct Action
{
    const mockbus::Service* service;
    std::string path;
    std::string call;
};

const Action ledOff{&mockbus::led, "/xyz/openbmc_project/led/groups/bmc_booted",
                    "Set s:xyz.openbmc_project.Led.Group s:Asserted b:false"};
const Action reset{&mockbus::software, "/xyz/openbmc_project/software",
                   "Reset"};
const Action reboot{&mockbus::stateBmc, "/xyz/openbmc_project/state/bmc0",
                    "Set s:xyz.openbmc_project.State.BMC "
                    "s:RequestedBMCTransition "
                    "s:xyz.openbmc_project.State.BMC.Transition.Reboot"};
const Action powerOff{
    &mockbus::stateChassis, "/xyz/openbmc_project/state/chassis0",
    "Set s:xyz.openbmc_project.State.Chassis s:RequestedPowerTransition "
    "s:xyz.openbmc_project.State.Chassis.Transition.Off"};
const std::vector<const mockbus::Service*> restoreServices = {
    &mockbus::led, &mockbus::software, &mockbus::stateBmc,
    &mockbus::stateChassis};

std::size_t shutdownCount()
{
    std::ifstream log(std::string(std::getenv("SB_RUN")) + "/commands.log");
    std::size_t count = 0;
    for (std::string line; std::getline(log, line);)
    {
        count += line == "shutdown" ? 1 : 0;
    }
    return count;
}

/** Waits (at most 5 s) until `count` shutdowns are recorded; the time from
 *  `since` until then. */
std::optional<Clock::duration> waitForShutdowns(std::size_t count,
                                                Clock::time_point since)
{
    for (; Clock::now() - since < 5s; std::this_thread::sleep_for(10ms))
    {
        if (shutdownCount() >= count)
        {
            return Clock::now() - since;
        }
    }
    return std::nullopt;
}

class SshRestoreTest : public mockbus::MockTest
{
  protected:
    SshRestoreTest() :
        MockTest({mockbus::network, mockbus::led, mockbus::software,
                  mockbus::stateBmc, mockbus::stateChassis})
    {
    }

    static void SetUpTestSuite()
    {
        ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    }

    Reply send(ipmi::Cmd cmd, const Bytes& data)
    {
        return host.send(netFn, cmd, data);
    }

    std::string ssh(const std::string& name)
    {
        return mockbus::getProperty(mockbus::network, ifacePath(name),
                                    ethInterface, "SSH");
    }

    /** Sends Restore default, checks its answer and that the mocks logged
     *  exactly `actions`, and that they saw them in this order (each mock
     *  signals MethodCalled before it replies). */
    void restore(const Bytes& data, ipmi::Cmd cc,
                 const std::vector<const Action*>& actions)
    {
        seen.clear();
        Reply r = send(cmdRestore, data);
        EXPECT_EQ(r.cc, cc);
        EXPECT_THAT(r.data, IsEmpty());
        std::vector<std::string> order;
        for (const auto* a : actions)
        {
            order.push_back(a->path + " " +
                            a->call.substr(0, a->call.find(' ')));
        }
        EXPECT_THAT(seen, ElementsAreArray(order));
        for (const auto* service : restoreServices)
        {
            std::vector<std::string> want, got;
            for (const auto* a : actions)
            {
                if (a->service == service)
                {
                    want.push_back(a->path + " " + a->call);
                }
            }
            if (!mockbus::hasOwner(*service))
            {
                mockbus::startMock(*service); // a test stopped it
            }
            for (const auto& c : mockbus::allCalls(*service))
            {
                got.push_back(c.path + " " + c.method);
                for (const auto& arg : c.args)
                {
                    got.back() += " " + arg;
                }
            }
            EXPECT_EQ(got, want) << service->key;
            mockbus::clearCalls(*service);
        }
    }

    kestrel::test::HostBus host;
    std::vector<std::string> seen;
    sdbusplus::bus::match_t methodCalled{
        *host.bus,
        "type='signal',interface='org.freedesktop.DBus.Mock',"
        "member='MethodCalled'",
        [this](sdbusplus::message_t& m) {
            std::string name;
            m.read(name);
            seen.push_back(std::string(m.get_path()) + " " + name);
        }};
};

TEST_F(SshRestoreTest, SshSetWritesOnlyTheNumberedInterfaceAndOnlyChanges)
{
    for (uint8_t number = 0; number < 4; ++number)
    {
        const std::string& name = interfaceNames[number];
        SCOPED_TRACE(name);
        mockbus::reset(mockbus::network);
        for (uint8_t state : {0x00, 0x00, 0x01, 0x01})
        {
            Reply r = send(cmdSshSet, {number, state});
            EXPECT_EQ(r.cc, 0x00);
            EXPECT_THAT(r.data, IsEmpty());
            for (const auto& other : interfaceNames)
            {
                EXPECT_EQ(ssh(other), other == name && state == 0x00
                                          ? "b:false"
                                          : "b:true");
            }
        }
        // The repeated states wrote nothing.
        auto sets = mockbus::calls(mockbus::network, "Set");
        ASSERT_EQ(sets.size(), 2u);
        for (std::size_t i = 0; i < sets.size(); ++i)
        {
            EXPECT_EQ(sets[i].path, ifacePath(name));
            EXPECT_THAT(sets[i].args,
                        ElementsAre(std::string("s:") + ethInterface, "s:SSH",
                                    i == 0 ? "b:false" : "b:true"));
        }
    }
}

TEST_F(SshRestoreTest, SshGetReadsTheNumberedInterface)
{
    for (uint8_t blocked = 0; blocked < 4; ++blocked)
    {
        SCOPED_TRACE(interfaceNames[blocked]);
        mockbus::reset(mockbus::network);
        mockbus::updateProperty(mockbus::network,
                                ifacePath(interfaceNames[blocked]),
                                ethInterface, "SSH", "b", "false");
        for (uint8_t number = 0; number < 4; ++number)
        {
            Reply r = send(cmdSshGet, {number});
            EXPECT_EQ(r.cc, 0x00);
            EXPECT_THAT(r.data, ElementsAre(number == blocked ? 0x00 : 0x01));
        }
        EXPECT_THAT(mockbus::allCalls(mockbus::network), IsEmpty());
    }
}

TEST_F(SshRestoreTest, SshBadFieldsFailedReadsAndRefusedWrites)
{
    // eth2's value is no boolean: a failed read, like an absent service.
    mockbus::updateProperty(mockbus::network, ifacePath("eth2"), ethInterface,
                            "SSH", "s", "yes");
    const std::vector<std::pair<ipmi::Cmd, Bytes>> rejected = {
        {cmdSshSet, {0x01, 0x02}}, {cmdSshSet, {0x04, 0x01}},
        {cmdSshSet, {0xFF, 0x00}}, {cmdSshSet, {0x00, 0xFF}},
        {cmdSshGet, {0x04}},       {cmdSshGet, {0xFF}},
        {cmdSshSet, {0x03, 0x00}}, {cmdSshGet, {0x03}}};
    for (bool stopped : {false, true})
    {
        if (stopped)
        {
            mockbus::stopMock(mockbus::network);
        }
        for (const auto& [cmd, request] : rejected)
        {
            SCOPED_TRACE(testing::PrintToString(request));
            Reply r = send(cmd, request);
            EXPECT_EQ(r.cc, 0xCC);
            EXPECT_THAT(r.data, IsEmpty());
        }
        if (stopped)
        {
            mockbus::startMock(mockbus::network);
        }
        EXPECT_THAT(mockbus::allCalls(mockbus::network), IsEmpty());
    }

    mockbus::failSet(mockbus::network, ifacePath("eth0"), "SSH", notAllowed,
                     "denied");
    Reply r = send(cmdSshSet, {0x01, 0x00});
    EXPECT_EQ(r.cc, 0xFF);
    EXPECT_THAT(r.data, IsEmpty());
    EXPECT_EQ(mockbus::calls(mockbus::network, "Set").size(), 1u);
    EXPECT_THAT(send(cmdSshGet, {0x01}).data, ElementsAre(0x01));
}

TEST_F(SshRestoreTest, WrongRequestLengthsNeverReachTheHandlers)
{
    for (const auto& [cmd, request] : std::vector<std::pair<ipmi::Cmd, Bytes>>{
             {cmdSshGet, {}},
             {cmdSshGet, {0x01, 0x00}},
             {cmdSshSet, {0x01}},
             {cmdSshSet, {0x01, 0x00, 0x00}},
             {cmdRestore, {0x01, 0x01}}})
    {
        SCOPED_TRACE(testing::PrintToString(request));
        Reply r = send(cmd, request);
        EXPECT_EQ(r.cc, 0xC7);
        EXPECT_THAT(r.data, IsEmpty());
    }
    EXPECT_THAT(mockbus::allCalls(mockbus::network), IsEmpty());
    restore({0x00}, 0xCC, {}); // and nothing reached the restore mocks
}

TEST_F(SshRestoreTest, RestoreRunsEachOptionsActionsInOrder)
{
    struct Case
    {
        Bytes request;
        ipmi::Cmd cc;
        std::vector<const Action*> actions;
        bool shutdown;
    };
    // Options without a shutdown first: by the time the last delayed
    // shutdown has run, any one they started by mistake would have too.
    const std::vector<Case> cases = {
        {{}, 0x00, {&ledOff, &reset, &reboot}, false},
        {{0x01}, 0x00, {&ledOff, &reset, &reboot}, false},
        {{0x05}, 0x00, {&reset}, false},
        {{0x00}, 0xCC, {}, false},
        {{0x06}, 0xCC, {}, false},
        {{0xFF}, 0xCC, {}, false},
        {{0x02}, 0x00, {&ledOff, &reset}, true},
        {{0x03}, 0x00, {}, true},
        {{0x04}, 0x00, {&powerOff}, true},
    };
    const std::size_t before = shutdownCount();
    std::size_t expected = before;
    Clock::time_point lastWithout;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.request));
        Clock::time_point sent = Clock::now();
        restore(c.request, c.cc, c.actions);
        // The shutdown waits a second: the reply comes first.
        EXPECT_EQ(shutdownCount(), expected);
        if (!c.shutdown)
        {
            lastWithout = Clock::now();
            continue;
        }
        auto took = waitForShutdowns(++expected, sent);
        ASSERT_TRUE(took) << "no shutdown within 5 s";
        EXPECT_GE(*took, 1s);
    }
    std::this_thread::sleep_until(lastWithout + 1500ms);
    EXPECT_EQ(shutdownCount(), before + 3);
}

TEST_F(SshRestoreTest, RestoreFailuresStillRunEveryAction)
{
    auto refuseSet = [](const Action& a, const char* property) {
        return [&a, property] {
            mockbus::failSet(*a.service, a.path, property, notAllowed, "no");
        };
    };
    auto refuseReset = [] {
        mockbus::failMethod(mockbus::software, reset.path,
                            "xyz.openbmc_project.Common.FactoryReset", "Reset",
                            "", "", notAllowed, "busy");
    };
    struct Case
    {
        std::function<void()> inject;
        uint8_t option;
        ipmi::Cmd cc;
        std::vector<const Action*> actions;
    };
    const std::vector<Case> cases = {
        {refuseReset, 0x01, 0xFF, {&ledOff, &reset, &reboot}},
        {refuseSet(reboot, "RequestedBMCTransition"),
         0x01,
         0xFF,
         {&ledOff, &reset, &reboot}},
        // The LED write's result is not looked at.
        {refuseSet(ledOff, "Asserted"), 0x01, 0x00, {&ledOff, &reset, &reboot}},
        {[] { mockbus::stopMock(mockbus::software); }, 0x05, 0xFF, {}},
        {refuseReset, 0x02, 0xFF, {&ledOff, &reset}},
        {refuseSet(powerOff, "RequestedPowerTransition"),
         0x04,
         0xFF,
         {&powerOff}},
    };
    const std::size_t before = shutdownCount();
    Clock::time_point lastSent;
    for (std::size_t i = 0; i < cases.size(); ++i)
    {
        SCOPED_TRACE(i);
        for (const auto* service : restoreServices)
        {
            mockbus::reset(*service);
        }
        cases[i].inject();
        lastSent = Clock::now();
        restore({cases[i].option}, cases[i].cc, cases[i].actions);
    }
    // Options 0x02 and 0x04 still shut down after their delay.
    ASSERT_TRUE(waitForShutdowns(before + 2, lastSent));
}

TEST_F(SshRestoreTest, DelayShutdownWithoutAPositiveCountRunsAtOnce)
{
    for (const char* name : {"hbled_off", "factory_reset", "delay_shutdown"})
    {
        EXPECT_NE(kestrel::test::providerSymbol<void*>(name), nullptr) << name;
    }
    auto* delayShutdown =
        kestrel::test::providerSymbol<int (*)(int32_t)>("delay_shutdown");
    ASSERT_NE(delayShutdown, nullptr);

    // The stand-in's exit status comes back as the result.
    const std::string status =
        std::string(std::getenv("SB_RUN")) + "/stand-in-status/shutdown";
    kestrel::test::writeFile(status, "3\n");
    for (int32_t seconds : {0, -1, INT32_MIN})
    {
        SCOPED_TRACE(seconds);
        const std::size_t before = shutdownCount();
        Clock::time_point start = Clock::now();
        EXPECT_EQ(delayShutdown(seconds), 3);
        EXPECT_LT(Clock::now() - start, 1s);
        EXPECT_EQ(shutdownCount(), before + 1);
    }
    std::remove(status.c_str());
}

} // namespace
