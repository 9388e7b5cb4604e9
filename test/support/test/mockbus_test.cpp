// The mock checks: runs as `sim/sandbox --mocks all -- mockbus_test` and
// exercises the private bus, every mock's key behaviour, and mockbus itself.
// Calls under test go over raw sd-bus, so error names are seen exactly as a
// client of the real service would see them.

#include "mockbus.hpp"
#include "sandbox.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace mockbus = kestrel::test::mockbus;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

namespace
{

constexpr const char* manager = "org.freedesktop.systemd1.Manager";
constexpr const char* unitIface = "org.freedesktop.systemd1.Unit";
constexpr const char* pidControl = "phosphor-pid-control.service";
constexpr const char* pidControlPath =
    "/org/freedesktop/systemd1/unit/phosphor_2dpid_2dcontrol_2eservice";
constexpr const char* ledIface = "xyz.openbmc_project.Led.Group";
constexpr const char* systemFault =
    "/xyz/openbmc_project/led/groups/system_fault";
constexpr const char* bmcBooted = "/xyz/openbmc_project/led/groups/bmc_booted";
constexpr const char* ethIface =
    "xyz.openbmc_project.Network.EthernetInterface";
constexpr const char* eth0 = "/xyz/openbmc_project/network/eth0";
constexpr const char* propsIface = "org.freedesktop.DBus.Properties";
constexpr const char* invalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";

// The outcome of one raw call: the error name ("" on success) and the reply.
struct Outcome
{
    std::string error;
    std::string message;
    sd_bus_message* reply = nullptr;
    Outcome() = default;
    Outcome(const Outcome&) = delete;
    Outcome& operator=(const Outcome&) = delete;
    ~Outcome()
    {
        sd_bus_message_unref(reply);
    }
    uint64_t cookie() const
    {
        uint64_t c = 0;
        sd_bus_message_get_cookie(reply, &c);
        return c;
    }
};

template <typename... Args>
void callInto(Outcome& out, const char* dest, const char* path,
              const char* iface, const char* member, const char* sig,
              Args... args)
{
    sd_bus_error err = SD_BUS_ERROR_NULL;
    int r = sd_bus_call_method(mockbus::bus(), dest, path, iface, member, &err,
                               &out.reply, sig, args...);
    if (r < 0)
    {
        out.error = err.name != nullptr ? err.name : "errno";
        out.message = err.message != nullptr ? err.message : "";
    }
    sd_bus_error_free(&err);
}

// A call whose reply is one object path, or the error name.
std::string callPath(const char* dest, const char* path, const char* iface,
                     const char* member, const char* sig, const char* a,
                     const char* b = nullptr)
{
    Outcome out;
    if (b != nullptr)
    {
        callInto(out, dest, path, iface, member, sig, a, b);
    }
    else
    {
        callInto(out, dest, path, iface, member, sig, a);
    }
    if (!out.error.empty())
    {
        return out.error + ": " + out.message;
    }
    const char* result = nullptr;
    EXPECT_GE(sd_bus_message_read(out.reply, "o", &result), 0);
    return result != nullptr ? result : "";
}

// Properties.Set with a boolean, int32 or string value; returns the error
// name, "" on success.
std::string setProperty(const char* dest, const char* path, const char* iface,
                        const char* prop, const char* sig, const char* value)
{
    Outcome out;
    switch (sig[0])
    {
    case 'b':
        callInto(out, dest, path, propsIface, "Set", "ssv", iface, prop, "b",
                 std::string_view(value) == "true" ? 1 : 0);
        break;
    case 'i':
        callInto(out, dest, path, propsIface, "Set", "ssv", iface, prop, "i",
                 static_cast<int32_t>(std::atoi(value)));
        break;
    default:
        callInto(out, dest, path, propsIface, "Set", "ssv", iface, prop, "s",
                 value);
    }
    return out.error;
}

// Signals matched on the test's connection, collected as they arrive.
class Signals
{
  public:
    Signals(const char* sender, const char* path, const char* iface,
            const char* member)
    {
        EXPECT_GE(sd_bus_match_signal(mockbus::bus(), &slot, sender, path,
                                      iface, member, &Signals::onSignal, this),
                  0);
    }
    Signals(const Signals&) = delete;
    Signals& operator=(const Signals&) = delete;
    ~Signals()
    {
        sd_bus_slot_unref(slot);
        for (auto* m : got)
        {
            sd_bus_message_unref(m);
        }
    }

    // Waits until at least n signals have arrived, or 3 s have passed.
    const std::vector<sd_bus_message*>& wait(std::size_t n)
    {
        auto deadline = std::chrono::steady_clock::now() + 3s;
        while (got.size() < n && std::chrono::steady_clock::now() < deadline)
        {
            if (sd_bus_process(mockbus::bus(), nullptr) > 0)
            {
                continue;
            }
            sd_bus_wait(mockbus::bus(), 100'000);
        }
        return got;
    }

  private:
    static int onSignal(sd_bus_message* m, void* self, sd_bus_error*)
    {
        static_cast<Signals*>(self)->got.push_back(sd_bus_message_ref(m));
        return 0;
    }

    sd_bus_slot* slot = nullptr;
    std::vector<sd_bus_message*> got;
};

uint64_t cookieOf(sd_bus_message* m)
{
    uint64_t c = 0;
    sd_bus_message_get_cookie(m, &c);
    return c;
}

std::string readPidFile(const std::string& key)
{
    std::ifstream in(std::string(std::getenv("SB_RUN")) + "/" + key + ".pid");
    std::string pid;
    in >> pid;
    return pid;
}

class MockChecks : public mockbus::MockTest
{
  protected:
    MockChecks() :
        MockTest({mockbus::systemd, mockbus::led, mockbus::network,
                  mockbus::stateHost, mockbus::stateBmc, mockbus::stateChassis,
                  mockbus::software})
    {
    }
};

} // namespace

TEST_F(MockChecks, BusIsPrivateAndHoldsOnlyTheMocks)
{
    EXPECT_EQ(std::getenv("DBUS_SYSTEM_BUS_ADDRESS"), nullptr);
    EXPECT_EQ(access("/run/dbus/system_bus_socket", F_OK), 0);
    EXPECT_STREQ(std::getenv("SB_MOCKS"),
                 "systemd led network state_host state_bmc state_chassis "
                 "software fan_sensor temp_sensor");

    Outcome names;
    callInto(names, "org.freedesktop.DBus", "/org/freedesktop/DBus",
             "org.freedesktop.DBus", "ListNames", "");
    ASSERT_EQ(names.error, "");
    char** list = nullptr;
    ASSERT_GE(sd_bus_message_read_strv(names.reply, &list), 0);
    std::set<std::string> wellKnown;
    for (char** p = list; *p != nullptr; ++p)
    {
        if (**p != ':')
        {
            wellKnown.insert(*p);
        }
        free(*p);
    }
    free(list);
    std::set<std::string> expected{"org.freedesktop.DBus"};
    for (const auto& s : mockbus::allServices())
    {
        expected.insert(s.name);
    }
    EXPECT_EQ(wellKnown, expected);

    // Each name is owned by the process in its pid file.
    for (const auto& s : mockbus::allServices())
    {
        Outcome pid;
        callInto(pid, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                 "org.freedesktop.DBus", "GetConnectionUnixProcessID", "s",
                 s.name);
        ASSERT_EQ(pid.error, "") << s.name;
        uint32_t owner = 0;
        ASSERT_GE(sd_bus_message_read(pid.reply, "u", &owner), 0);
        EXPECT_EQ(std::to_string(owner), readPidFile(s.key)) << s.key;
    }
}

TEST_F(MockChecks, NonRootMayNotOwnNames)
{
    std::string err;
    int status = 0;
    kestrel::test::runCapture(
        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
         "dbus-send", "--system", "--print-reply",
         "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
         "org.freedesktop.DBus.RequestName",
         "string:xyz.openbmc_project.Intruder", "uint32:0"},
        &status, &err);
    if (err.find("setresuid") != std::string::npos)
    {
        GTEST_SKIP() << "only uid 0 is mapped in this user namespace";
    }
    EXPECT_NE(status, 0);
    EXPECT_THAT(err, HasSubstr("org.freedesktop.DBus.Error.AccessDenied"));
}

TEST_F(MockChecks, SystemdEscapesUnitPathsAndRefusesLikeSystemd)
{
    const char* sd = mockbus::systemd.name;
    const char* mgr = mockbus::systemd.mainPath;
    EXPECT_EQ(callPath(sd, mgr, manager, "GetUnit", "s", pidControl),
              pidControlPath);
    EXPECT_EQ(callPath(sd, mgr, manager, "GetUnit", "s",
                       "xyz.openbmc_project.intrusionsensor.service"),
              "/org/freedesktop/systemd1/unit/"
              "xyz_2eopenbmc_5fproject_2eintrusionsensor_2eservice");
    for (const char* unit :
         {"xyz.openbmc_project.psusensor.service", "systemd-networkd.service",
          "phosphor-virtual-sensor.service"})
    {
        std::string path = callPath(sd, mgr, manager, "GetUnit", "s", unit);
        ASSERT_EQ(path.rfind("/org/freedesktop/systemd1/unit/", 0), 0u) << path;
        EXPECT_EQ(mockbus::getProperty(mockbus::systemd, path, unitIface,
                                       "ActiveState"),
                  "s:active");
        EXPECT_EQ(
            mockbus::getProperty(mockbus::systemd, path, unitIface, "Names"),
            std::string("as:[") + unit + "]");
    }

    EXPECT_EQ(callPath(sd, mgr, manager, "StartUnit", "ss", "nope.service",
                       "replace"),
              "org.freedesktop.systemd1.NoSuchUnit: Unit nope.service not "
              "found.");
    EXPECT_EQ(callPath(sd, mgr, manager, "GetUnit", "s", "nope.service"),
              "org.freedesktop.systemd1.NoSuchUnit: Unit nope.service not "
              "loaded.");
    EXPECT_EQ(
        callPath(sd, mgr, manager, "RestartUnit", "ss", pidControl, "restart"),
        std::string(invalidArgs) + ": Job mode restart invalid");
    // The unit is resolved before the mode is looked at.
    EXPECT_EQ(
        callPath(sd, mgr, manager, "StopUnit", "ss", "nope.service", "bogus"),
        "org.freedesktop.systemd1.NoSuchUnit: Unit nope.service not "
        "found.");
    EXPECT_EQ(setProperty(sd, pidControlPath, unitIface, "ActiveState", "s",
                          "inactive"),
              "org.freedesktop.DBus.Error.PropertyReadOnly");
    EXPECT_EQ(mockbus::getProperty(mockbus::systemd, pidControlPath, unitIface,
                                   "ActiveState"),
              "s:active");
}

TEST_F(MockChecks, SystemdJobsChangeStateBeforeTheReplyAndSignalAfter)
{
    const char* sd = mockbus::systemd.name;
    Signals changed(sd, pidControlPath, propsIface, "PropertiesChanged");
    Signals jobs(sd, mockbus::systemd.mainPath, manager, nullptr);

    Outcome stop;
    callInto(stop, sd, pidControlPath, unitIface, "Stop", "s", "replace");
    ASSERT_EQ(stop.error, "");
    const char* job = nullptr;
    ASSERT_GE(sd_bus_message_read(stop.reply, "o", &job), 0);
    EXPECT_STREQ(job, "/org/freedesktop/systemd1/job/1");
    EXPECT_EQ(mockbus::getProperty(mockbus::systemd, pidControlPath, unitIface,
                                   "ActiveState"),
              "s:inactive");
    EXPECT_EQ(mockbus::getProperty(mockbus::systemd, pidControlPath, unitIface,
                                   "SubState"),
              "s:dead");

    // Cookies number the mock's messages in the order it sent them.
    const auto& pc = changed.wait(1);
    ASSERT_EQ(pc.size(), 1u);
    EXPECT_LT(cookieOf(pc[0]), stop.cookie());
    const auto& js = jobs.wait(2);
    ASSERT_EQ(js.size(), 2u);
    EXPECT_STREQ(sd_bus_message_get_member(js[0]), "JobNew");
    EXPECT_STREQ(sd_bus_message_get_member(js[1]), "JobRemoved");
    EXPECT_GT(cookieOf(js[0]), stop.cookie());
    uint32_t id = 0;
    const char* path = nullptr;
    const char* unit = nullptr;
    const char* result = nullptr;
    ASSERT_GE(sd_bus_message_read(js[1], "uoss", &id, &path, &unit, &result),
              0);
    EXPECT_EQ(id, 1u);
    EXPECT_STREQ(path, job);
    EXPECT_STREQ(unit, pidControl);
    EXPECT_STREQ(result, "done");

    // Restarting a stopped unit starts it; job numbers go on.
    EXPECT_EQ(callPath(sd, mockbus::systemd.mainPath, manager, "RestartUnit",
                       "ss", pidControl, "replace"),
              "/org/freedesktop/systemd1/job/2");
    EXPECT_EQ(mockbus::getProperty(mockbus::systemd, pidControlPath, unitIface,
                                   "SubState"),
              "s:running");

    auto calls = mockbus::allCalls(mockbus::systemd);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].path, pidControlPath);
    EXPECT_EQ(calls[0].method, "Stop");
    EXPECT_THAT(calls[0].args, ElementsAre("s:replace"));
    EXPECT_EQ(calls[1].path, mockbus::systemd.mainPath);
    EXPECT_EQ(calls[1].method, "RestartUnit");
    EXPECT_THAT(calls[1].args,
                ElementsAre(std::string("s:") + pidControl, "s:replace"));
    EXPECT_LT(calls[0].seq, calls[1].seq);
}

TEST_F(MockChecks, SystemdTestControlAddsUnitsAndFailsJobs)
{
    const char* sd = mockbus::systemd.name;
    const char* mgr = mockbus::systemd.mainPath;
    Outcome add;
    callInto(add, sd, mgr, "org.freedesktop.DBus.Mock", "AddMockUnit", "ss",
             "extra_1.service", "inactive");
    ASSERT_EQ(add.error, "");
    std::string path =
        callPath(sd, mgr, manager, "GetUnit", "s", "extra_1.service");
    EXPECT_EQ(path, "/org/freedesktop/systemd1/unit/extra_5f1_2eservice");

    Outcome result;
    callInto(result, sd, mgr, "org.freedesktop.DBus.Mock", "SetJobResult", "ss",
             "extra_1.service", "failed");
    ASSERT_EQ(result.error, "");
    Signals jobs(sd, mgr, manager, "JobRemoved");
    EXPECT_EQ(callPath(sd, mgr, manager, "StartUnit", "ss", "extra_1.service",
                       "replace"),
              "/org/freedesktop/systemd1/job/1");
    EXPECT_EQ(
        mockbus::getProperty(mockbus::systemd, path, unitIface, "ActiveState"),
        "s:failed");
    const auto& js = jobs.wait(1);
    ASSERT_EQ(js.size(), 1u);
    uint32_t id = 0;
    const char* job = nullptr;
    const char* unit = nullptr;
    const char* res = nullptr;
    ASSERT_GE(sd_bus_message_read(js[0], "uoss", &id, &job, &unit, &res), 0);
    EXPECT_STREQ(res, "failed");

    // Test control is not among the recorded calls.
    auto calls = mockbus::allCalls(mockbus::systemd);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].method, "GetUnit");
    EXPECT_EQ(calls[1].method, "StartUnit");

    // Reset forgets the added unit.
    mockbus::reset(mockbus::systemd);
    EXPECT_THAT(callPath(sd, mgr, manager, "GetUnit", "s", "extra_1.service"),
                HasSubstr("NoSuchUnit"));
}

TEST_F(MockChecks, TypedSetRefusesWrongTypesAndRecordsEveryAttempt)
{
    const char* ledName = mockbus::led.name;
    Signals changed(ledName, systemFault, propsIface, "PropertiesChanged");

    EXPECT_EQ(
        setProperty(ledName, systemFault, ledIface, "Asserted", "b", "true"),
        "");
    EXPECT_EQ(
        mockbus::getProperty(mockbus::led, systemFault, ledIface, "Asserted"),
        "b:true");
    EXPECT_EQ(changed.wait(1).size(), 1u);

    EXPECT_EQ(
        setProperty(ledName, systemFault, ledIface, "Asserted", "s", "yes"),
        invalidArgs);
    EXPECT_EQ(setProperty(ledName, systemFault, ledIface, "Asserted", "i", "0"),
              invalidArgs);
    EXPECT_EQ(setProperty(ledName, systemFault, ledIface, "Lit", "b", "true"),
              invalidArgs);
    EXPECT_EQ(setProperty(ledName, systemFault, "xyz.example.Other", "Asserted",
                          "b", "true"),
              invalidArgs);
    EXPECT_EQ(
        mockbus::getProperty(mockbus::led, systemFault, ledIface, "Asserted"),
        "b:true");
    // Setting the value it already has changes nothing and signals nothing.
    EXPECT_EQ(
        setProperty(ledName, systemFault, ledIface, "Asserted", "b", "true"),
        "");

    auto calls = mockbus::calls(mockbus::led, "Set");
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_THAT(calls[0].args, ElementsAre(std::string("s:") + ledIface,
                                           "s:Asserted", "b:true"));
    EXPECT_THAT(calls[1].args, ElementsAre(std::string("s:") + ledIface,
                                           "s:Asserted", "s:yes"));
    EXPECT_EQ(calls[2].args.back(), "i:0");
    // The next signal is that of the next change: none came in between.
    EXPECT_EQ(
        setProperty(ledName, systemFault, ledIface, "Asserted", "b", "false"),
        "");
    const auto& pc = changed.wait(2);
    ASSERT_EQ(pc.size(), 2u);
    const char* iface = nullptr;
    const char* prop = nullptr;
    int asserted = 1;
    ASSERT_GE(
        sd_bus_message_read(pc[1], "sa{sv}", &iface, 1, &prop, "b", &asserted),
        0);
    EXPECT_EQ(asserted, 0);

    // A wrong type can still be stored on purpose; Set then works again.
    mockbus::updateProperty(mockbus::led, systemFault, ledIface, "Asserted",
                            "s", "yes");
    EXPECT_EQ(
        mockbus::getProperty(mockbus::led, systemFault, ledIface, "Asserted"),
        "s:yes");
    EXPECT_EQ(
        setProperty(ledName, systemFault, ledIface, "Asserted", "b", "true"),
        "");
    EXPECT_EQ(
        mockbus::getProperty(mockbus::led, systemFault, ledIface, "Asserted"),
        "b:true");
}

TEST_F(MockChecks, StateMocksInsistOnFullEnumerationNames)
{
    const char* host = mockbus::stateHost.mainPath;
    EXPECT_EQ(setProperty(mockbus::stateHost.name, host,
                          "xyz.openbmc_project.State.Host",
                          "RequestedHostTransition", "s", "Off"),
              "xyz.openbmc_project.sdbusplus.Error.InvalidEnumString");
    EXPECT_EQ(setProperty(mockbus::stateHost.name, host,
                          "xyz.openbmc_project.State.Boot.Progress",
                          "BootProgress", "s",
                          "xyz.openbmc_project.State.Boot.Progress."
                          "ProgressStages.OSStart"),
              "");
    EXPECT_EQ(mockbus::getProperty(mockbus::stateHost, host,
                                   "xyz.openbmc_project.State.Boot.Progress",
                                   "BootProgress"),
              "s:xyz.openbmc_project.State.Boot.Progress.ProgressStages."
              "OSStart");
    EXPECT_EQ(mockbus::getProperty(mockbus::stateHost, host,
                                   "xyz.openbmc_project.State.Host",
                                   "CurrentHostState"),
              "s:xyz.openbmc_project.State.Host.HostState.Running");

    const char* bmc = mockbus::stateBmc.mainPath;
    EXPECT_EQ(setProperty(mockbus::stateBmc.name, bmc,
                          "xyz.openbmc_project.State.BMC",
                          "RequestedBMCTransition", "s",
                          "xyz.openbmc_project.State.BMC.Transition.Reboot"),
              "");
    EXPECT_EQ(mockbus::getProperty(mockbus::stateBmc, bmc,
                                   "xyz.openbmc_project.State.BMC",
                                   "LastRebootTime"),
              "t:1700000000000");

    const char* chassis = mockbus::stateChassis.mainPath;
    EXPECT_EQ(setProperty(mockbus::stateChassis.name, chassis,
                          "xyz.openbmc_project.State.Chassis",
                          "RequestedPowerTransition", "s",
                          "xyz.openbmc_project.State.Chassis.Transition.Off"),
              "");
    auto calls = mockbus::allCalls(mockbus::stateChassis);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].path, chassis);
    EXPECT_EQ(calls[0].args.back(),
              "s:xyz.openbmc_project.State.Chassis.Transition.Off");
}

TEST_F(MockChecks, OneCallLogPerProcessInArrivalOrder)
{
    const char* ledName = mockbus::led.name;
    ASSERT_EQ(
        setProperty(ledName, bmcBooted, ledIface, "Asserted", "b", "true"), "");
    ASSERT_EQ(
        setProperty(ledName, systemFault, ledIface, "Asserted", "b", "true"),
        "");
    ASSERT_EQ(
        setProperty(ledName, bmcBooted, ledIface, "Asserted", "b", "false"),
        "");
    // Neither Get, GetAll nor the log methods themselves are recorded.
    mockbus::getProperty(mockbus::led, bmcBooted, ledIface, "Asserted");
    mockbus::allCalls(mockbus::led);

    auto calls = mockbus::allCalls(mockbus::led);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].path, bmcBooted);
    EXPECT_EQ(calls[1].path, systemFault);
    EXPECT_EQ(calls[2].path, bmcBooted);
    EXPECT_EQ(calls[2].args.back(), "b:false");
    EXPECT_LT(calls[0].seq, calls[1].seq);
    EXPECT_LT(calls[1].seq, calls[2].seq);

    mockbus::clearCalls(mockbus::led);
    EXPECT_THAT(mockbus::allCalls(mockbus::led), IsEmpty());
    // The per-object logs are emptied as well.
    Outcome own;
    callInto(own, ledName, bmcBooted, "org.freedesktop.DBus.Mock", "GetCalls",
             "");
    ASSERT_EQ(own.error, "");
    ASSERT_GE(sd_bus_message_enter_container(own.reply, 'a', "(tsav)"), 0);
    EXPECT_EQ(sd_bus_message_at_end(own.reply, false), 1);
}

TEST_F(MockChecks, NetworkFactoryResetDeleteAllAndInterfacesAdded)
{
    const char* net = mockbus::network.name;
    const char* root = mockbus::network.mainPath;
    Outcome reset;
    callInto(reset, net, root, "xyz.openbmc_project.Common.FactoryReset",
             "Reset", "");
    EXPECT_EQ(reset.error, "");
    for (const char* path : {eth0, "/xyz/openbmc_project/network/eth1"})
    {
        Outcome del;
        callInto(del, net, path, "xyz.openbmc_project.Collection.DeleteAll",
                 "DeleteAll", "");
        EXPECT_EQ(del.error, "") << path;
    }
    Outcome noDelete;
    callInto(noDelete, net, "/xyz/openbmc_project/network/eth2",
             "xyz.openbmc_project.Collection.DeleteAll", "DeleteAll", "");
    EXPECT_EQ(noDelete.error, "org.freedesktop.DBus.Error.UnknownMethod");

    auto calls = mockbus::allCalls(mockbus::network);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].path, root);
    EXPECT_EQ(calls[0].method, "Reset");
    EXPECT_EQ(calls[1].path, eth0);
    EXPECT_EQ(calls[1].method, "DeleteAll");
    EXPECT_EQ(calls[2].path, "/xyz/openbmc_project/network/eth1");

    // SSH: a change is signalled, with the new value.
    Signals changed(net, eth0, propsIface, "PropertiesChanged");
    EXPECT_EQ(setProperty(net, eth0, ethIface, "SSH", "b", "false"), "");
    const auto& pc = changed.wait(1);
    ASSERT_EQ(pc.size(), 1u);
    const char* iface = nullptr;
    ASSERT_GE(sd_bus_message_read(pc[0], "s", &iface), 0);
    EXPECT_STREQ(iface, ethIface);
    const char* prop = nullptr;
    int ssh = 1;
    ASSERT_GE(sd_bus_message_read(pc[0], "a{sv}", 1, &prop, "b", &ssh), 0);
    EXPECT_STREQ(prop, "SSH");
    EXPECT_EQ(ssh, 0);

    // A new interface appears with InterfacesAdded, as portwarden expects.
    Signals added(net, root, "org.freedesktop.DBus.ObjectManager",
                  "InterfacesAdded");
    Outcome add;
    callInto(add, net, root, "org.freedesktop.DBus.Mock",
             "AddEthernetInterface", "s", "eth3");
    ASSERT_EQ(add.error, "");
    const auto& ia = added.wait(1);
    ASSERT_EQ(ia.size(), 1u);
    const char* path = nullptr;
    ASSERT_GE(sd_bus_message_read(ia[0], "o", &path), 0);
    EXPECT_STREQ(path, "/xyz/openbmc_project/network/eth3");
    EXPECT_EQ(mockbus::getProperty(mockbus::network, path, ethIface, "SSH"),
              "b:true");
    EXPECT_EQ(
        mockbus::getProperty(mockbus::network, path, ethIface, "InterfaceName"),
        "s:eth3");

    // FactoryReset.Reset does not shadow Mock.Reset, which still restores
    // the initial objects.
    mockbus::reset(mockbus::network);
    EXPECT_EQ(mockbus::getProperty(mockbus::network, eth0, ethIface, "SSH"),
              "b:true");
    EXPECT_THROW(mockbus::getProperty(mockbus::network,
                                      "/xyz/openbmc_project/network/eth3",
                                      ethIface, "SSH"),
                 mockbus::Error);
    EXPECT_THAT(mockbus::allCalls(mockbus::network), IsEmpty());
}

TEST_F(MockChecks, SoftwareVersionAndFactoryReset)
{
    EXPECT_EQ(mockbus::getProperty(mockbus::software,
                                   "/xyz/openbmc_project/software/bios_active",
                                   "xyz.openbmc_project.Software.Version",
                                   "Purpose"),
              "s:xyz.openbmc_project.Software.Version.VersionPurpose.Host");
    Outcome reset;
    callInto(reset, mockbus::software.name, mockbus::software.mainPath,
             "xyz.openbmc_project.Common.FactoryReset", "Reset", "");
    EXPECT_EQ(reset.error, "");
    auto calls = mockbus::allCalls(mockbus::software);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method, "Reset");
    EXPECT_THAT(calls[0].args, IsEmpty());
}

TEST_F(MockChecks, FailuresAreInjectedAndResetRestoresBehaviour)
{
    const char* sd = mockbus::systemd.name;
    const char* mgr = mockbus::systemd.mainPath;
    mockbus::failMethod(mockbus::systemd, mgr, manager, "RestartUnit", "ss",
                        "o", "org.freedesktop.DBus.Error.AccessDenied",
                        "it's \"denied\"\n");
    EXPECT_EQ(
        callPath(sd, mgr, manager, "RestartUnit", "ss", pidControl, "replace"),
        "org.freedesktop.DBus.Error.AccessDenied: it's \"denied\"\n");
    // A failed call is still recorded.
    EXPECT_EQ(mockbus::calls(mockbus::systemd, "RestartUnit").size(), 1u);

    // Stateful code: fail once, then answer.
    mockbus::addMethod(mockbus::systemd, mgr, manager, "StartUnit", "ss", "o",
                       "self.n = getattr(self, 'n', 0) + 1\n"
                       "if self.n == 1:\n"
                       "    raise dbus.exceptions.DBusException('busy', "
                       "name='org.freedesktop.systemd1.JobFailed')\n"
                       "ret = '/org/freedesktop/systemd1/job/77'\n");
    EXPECT_THAT(
        callPath(sd, mgr, manager, "StartUnit", "ss", pidControl, "replace"),
        HasSubstr("JobFailed"));
    EXPECT_EQ(
        callPath(sd, mgr, manager, "StartUnit", "ss", pidControl, "replace"),
        "/org/freedesktop/systemd1/job/77");

    mockbus::reset(mockbus::systemd);
    EXPECT_EQ(
        callPath(sd, mgr, manager, "RestartUnit", "ss", pidControl, "replace"),
        "/org/freedesktop/systemd1/job/1");

    // One property's Set fails, the others stay typed.
    const char* net = mockbus::network.name;
    mockbus::failSet(mockbus::network, eth0, "SSH",
                     "xyz.openbmc_project.Common.Error.NotAllowed", "locked");
    EXPECT_EQ(setProperty(net, eth0, ethIface, "SSH", "b", "false"),
              "xyz.openbmc_project.Common.Error.NotAllowed");
    EXPECT_EQ(setProperty(net, eth0, ethIface, "InterfaceName", "s", "lan0"),
              "");
    EXPECT_EQ(setProperty(net, eth0, ethIface, "InterfaceName", "b", "true"),
              invalidArgs);
    EXPECT_EQ(mockbus::getProperty(mockbus::network, eth0, ethIface, "SSH"),
              "b:true");
    EXPECT_EQ(mockbus::calls(mockbus::network, "Set").size(), 3u);
}

TEST_F(MockChecks, SignalsWithChosenContentLeaveTheStoredValue)
{
    Signals changed(mockbus::led.name, bmcBooted, propsIface,
                    "PropertiesChanged");
    mockbus::emitPropertiesChanged(mockbus::led, bmcBooted, ledIface,
                                   "Asserted", mockbus::Value("on"));
    const auto& pc = changed.wait(1);
    ASSERT_EQ(pc.size(), 1u);
    const char* iface = nullptr;
    const char* prop = nullptr;
    const char* value = nullptr;
    ASSERT_GE(
        sd_bus_message_read(pc[0], "sa{sv}", &iface, 1, &prop, "s", &value), 0);
    EXPECT_STREQ(prop, "Asserted");
    EXPECT_STREQ(value, "on");
    EXPECT_EQ(
        mockbus::getProperty(mockbus::led, bmcBooted, ledIface, "Asserted"),
        "b:false");

    Signals custom(mockbus::network.name, mockbus::network.mainPath,
                   "xyz.example.Probe", "Poke");
    mockbus::emitSignal(mockbus::network, mockbus::network.mainPath,
                        "xyz.example.Probe", "Poke",
                        {mockbus::Value(uint8_t{7}),
                         mockbus::Value("as", "[a,b]"),
                         mockbus::Value(uint64_t{1} << 40)});
    const auto& got = custom.wait(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_STREQ(sd_bus_message_get_signature(got[0], true), "yast");
}

TEST_F(MockChecks, StoppedMockIsAbsentAndComesBackFresh)
{
    ASSERT_EQ(setProperty(mockbus::led.name, systemFault, ledIface, "Asserted",
                          "b", "true"),
              "");
    mockbus::stopMock(mockbus::led);
    EXPECT_FALSE(mockbus::hasOwner(mockbus::led));
    EXPECT_EQ(setProperty(mockbus::led.name, systemFault, ledIface, "Asserted",
                          "b", "true"),
              "org.freedesktop.DBus.Error.ServiceUnknown");
    // Stopping twice is an error of the test.
    EXPECT_THROW(mockbus::stopMock("led"), mockbus::Error);

    mockbus::startMock("led",
                       R"({"groups": ["probe"], "asserted": ["probe"]})");
    EXPECT_EQ(mockbus::getProperty(mockbus::led,
                                   "/xyz/openbmc_project/led/groups/probe",
                                   ledIface, "Asserted"),
              "b:true");
    EXPECT_THROW(mockbus::startMock(mockbus::led), mockbus::Error);
    mockbus::stopMock(mockbus::led);
    mockbus::startMock(mockbus::led);
    EXPECT_EQ(
        mockbus::getProperty(mockbus::led, systemFault, ledIface, "Asserted"),
        "b:false");
    EXPECT_THAT(mockbus::allCalls(mockbus::led), IsEmpty());
}

TEST_F(MockChecks, MockThatFailsToLoadIsReportedAtOnce)
{
    mockbus::stopMock(mockbus::stateBmc);
    auto start = std::chrono::steady_clock::now();
    // A template that raises: the name appears, then the process dies.
    try
    {
        mockbus::startMock(mockbus::stateBmc, R"({"LastRebootTime": "soon"})");
        ADD_FAILURE() << "a mock that cannot load was reported ready";
    }
    catch (const mockbus::Error& e)
    {
        EXPECT_THAT(e.what(), HasSubstr("exited before it was ready"));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_FALSE(mockbus::hasOwner(mockbus::stateBmc));
    // The next test's SetUp starts it again.
}

TEST(MockValues, ValuesParseOrRefuse)
{
    EXPECT_EQ(mockbus::Value(true).text, "true");
    EXPECT_EQ(mockbus::Value(int32_t{-3}).sig, "i");
    EXPECT_EQ(mockbus::Value(0.5).text, "0.5");
    EXPECT_EQ(mockbus::Value(std::string("x")).sig, "s");
    if (!kestrel::test::inSandbox())
    {
        GTEST_SKIP();
    }
    // Text that does not fit the type never reaches the mock.
    EXPECT_THROW(mockbus::updateProperty(mockbus::led, systemFault, ledIface,
                                         "Asserted", "y", "300"),
                 std::invalid_argument);
    EXPECT_THROW(mockbus::updateProperty(mockbus::led, systemFault, ledIface,
                                         "Asserted", "b", "yes"),
                 std::invalid_argument);
    EXPECT_THROW(mockbus::updateProperty(mockbus::led, systemFault, ledIface,
                                         "Asserted", "a{sv}", "{}"),
                 std::invalid_argument);
    EXPECT_THROW(mockbus::updateProperty(mockbus::led, systemFault, ledIface,
                                         "Asserted", "as", "a,b"),
                 std::invalid_argument);
    // A property the object lacks is the mock's error.
    try
    {
        mockbus::updateProperty(mockbus::led, systemFault, ledIface, "Lit",
                                true);
        ADD_FAILURE() << "no error for an unknown property";
    }
    catch (const mockbus::Error& e)
    {
        EXPECT_EQ(e.name(), "xyz.openbmc_project.Led.Group.NoSuchProperty");
    }
}
