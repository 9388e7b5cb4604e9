// The mock checks: runs as `sim/sandbox --mocks all -- mockbus_test`.  Only
// what the handler tests would not notice themselves: that the bus holds
// nothing but the mocks, and that a reset undoes whatever a test did to a
// mock (injected failures, stored values, added objects, its call log), so
// that no test passes on the state an earlier one left.  Calls go over raw
// sd-bus, so error names are seen exactly as a client of the real service
// would see them.

#include "mockbus.hpp"
#include "sandbox.hpp"

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mockbus = kestrel::test::mockbus;
using ::testing::IsEmpty;

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
            callInto(out, dest, path, propsIface, "Set", "ssv", iface, prop,
                     "b", std::string_view(value) == "true" ? 1 : 0);
            break;
        case 'i':
            callInto(out, dest, path, propsIface, "Set", "ssv", iface, prop,
                     "i", static_cast<int32_t>(std::atoi(value)));
            break;
        default:
            callInto(out, dest, path, propsIface, "Set", "ssv", iface, prop,
                     "s", value);
    }
    return out.error;
}

class MockChecks : public mockbus::MockTest
{
  protected:
    MockChecks() : MockTest({mockbus::systemd, mockbus::led, mockbus::network})
    {
    }
};

} // namespace

TEST_F(MockChecks, BusIsPrivateAndHoldsOnlyTheMocks)
{
    EXPECT_EQ(std::getenv("DBUS_SYSTEM_BUS_ADDRESS"), nullptr);
    EXPECT_EQ(access("/run/dbus/system_bus_socket", F_OK), 0);

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
}

TEST_F(MockChecks, ResetUndoesWhatATestDidToAMock)
{
    const char* sd = mockbus::systemd.name;
    const char* mgr = mockbus::systemd.mainPath;
    const char* net = mockbus::network.name;
    const char* root = mockbus::network.mainPath;

    // An injected failure answers with exactly its name and message, and
    // the call is still recorded.
    mockbus::failMethod(mockbus::systemd, mgr, manager, "RestartUnit", "ss",
                        "o", "org.freedesktop.DBus.Error.AccessDenied",
                        "it's \"denied\"\n");
    EXPECT_EQ(
        callPath(sd, mgr, manager, "RestartUnit", "ss", pidControl, "replace"),
        "org.freedesktop.DBus.Error.AccessDenied: it's \"denied\"\n");
    EXPECT_EQ(mockbus::calls(mockbus::systemd, "RestartUnit").size(), 1u);
    // A failing Set of one property leaves the others typed.
    mockbus::failSet(mockbus::network, eth0, "SSH",
                     "xyz.openbmc_project.Common.Error.NotAllowed", "locked");
    EXPECT_EQ(setProperty(net, eth0, ethIface, "SSH", "b", "false"),
              "xyz.openbmc_project.Common.Error.NotAllowed");
    EXPECT_EQ(setProperty(net, eth0, ethIface, "InterfaceName", "b", "true"),
              invalidArgs);
    // Changed state: a stopped unit, a wrongly typed value, a new object.
    Outcome stop;
    callInto(stop, sd, pidControlPath, unitIface, "Stop", "s", "replace");
    ASSERT_EQ(stop.error, "");
    mockbus::updateProperty(mockbus::led, systemFault, ledIface, "Asserted",
                            "s", "yes");
    Outcome add;
    callInto(add, net, root, "org.freedesktop.DBus.Mock",
             "AddEthernetInterface", "s", "eth3");
    ASSERT_EQ(add.error, "");
    // The network service's own FactoryReset.Reset is a recorded call, not
    // the mock's reset.
    Outcome factoryReset;
    callInto(factoryReset, net, root, "xyz.openbmc_project.Common.FactoryReset",
             "Reset", "");
    EXPECT_EQ(factoryReset.error, "");
    EXPECT_EQ(mockbus::getProperty(mockbus::network,
                                   "/xyz/openbmc_project/network/eth3",
                                   ethIface, "SSH"),
              "b:true");

    for (const auto& service :
         {mockbus::systemd, mockbus::led, mockbus::network})
    {
        mockbus::reset(service);
        EXPECT_THAT(mockbus::allCalls(service), IsEmpty()) << service.key;
    }
    EXPECT_EQ(
        callPath(sd, mgr, manager, "RestartUnit", "ss", pidControl, "replace"),
        "/org/freedesktop/systemd1/job/1");
    EXPECT_EQ(mockbus::getProperty(mockbus::systemd, pidControlPath, unitIface,
                                   "ActiveState"),
              "s:active");
    EXPECT_EQ(
        mockbus::getProperty(mockbus::led, systemFault, ledIface, "Asserted"),
        "b:false");
    EXPECT_EQ(setProperty(net, eth0, ethIface, "SSH", "b", "false"), "");
    EXPECT_THROW(mockbus::getProperty(mockbus::network,
                                      "/xyz/openbmc_project/network/eth3",
                                      ethIface, "SSH"),
                 mockbus::Error);
    // The per-object logs are emptied as well as the merged one.
    mockbus::clearCalls(mockbus::network);
    Outcome own;
    callInto(own, net, eth0, "org.freedesktop.DBus.Mock", "GetCalls", "");
    ASSERT_EQ(own.error, "");
    ASSERT_GE(sd_bus_message_enter_container(own.reply, 'a', "(tsav)"), 0);
    EXPECT_EQ(sd_bus_message_at_end(own.reply, false), 1);
}
