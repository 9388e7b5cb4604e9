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

// One raw call: "" on success, else "ERROR.NAME: message"; a reply of one
// object path is stored in *path.
template <typename... Args>
std::string rawCall(const char* dest, const char* path, const char* iface,
                    const char* member, std::string* objectPath,
                    const char* sig, Args... args)
{
    sd_bus_error err = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(mockbus::bus(), dest, path, iface, member, &err,
                               &reply, sig, args...);
    std::string out;
    if (r < 0)
    {
        out = std::string(err.name != nullptr ? err.name : "errno") + ": " +
              (err.message != nullptr ? err.message : "");
    }
    else if (objectPath != nullptr)
    {
        const char* o = nullptr;
        EXPECT_GE(sd_bus_message_read(reply, "o", &o), 0);
        *objectPath = o != nullptr ? o : "";
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&err);
    return out;
}

// Properties.Set of a boolean; returns the error name, "" on success.
std::string setBool(const char* dest, const char* path, const char* iface,
                    const char* prop, bool value)
{
    std::string out = rawCall(dest, path, propsIface, "Set", nullptr, "ssv",
                              iface, prop, "b", int{value});
    return out.substr(0, out.find(':'));
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

    sd_bus_message* names = nullptr;
    ASSERT_GE(sd_bus_call_method(mockbus::bus(), "org.freedesktop.DBus",
                                 "/org/freedesktop/DBus",
                                 "org.freedesktop.DBus", "ListNames", nullptr,
                                 &names, ""),
              0);
    char** list = nullptr;
    ASSERT_GE(sd_bus_message_read_strv(names, &list), 0);
    sd_bus_message_unref(names);
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
    EXPECT_EQ(rawCall(sd, mgr, manager, "RestartUnit", nullptr, "ss",
                      pidControl, "replace"),
              "org.freedesktop.DBus.Error.AccessDenied: it's \"denied\"\n");
    EXPECT_EQ(mockbus::calls(mockbus::systemd, "RestartUnit").size(), 1u);
    // A failing Set of one property leaves the others typed.
    mockbus::failSet(mockbus::network, eth0, "SSH",
                     "xyz.openbmc_project.Common.Error.NotAllowed", "locked");
    EXPECT_EQ(setBool(net, eth0, ethIface, "SSH", false),
              "xyz.openbmc_project.Common.Error.NotAllowed");
    EXPECT_EQ(setBool(net, eth0, ethIface, "InterfaceName", true), invalidArgs);
    // Changed state: a stopped unit, a wrongly typed value, a new object.
    ASSERT_EQ(
        rawCall(sd, pidControlPath, unitIface, "Stop", nullptr, "s", "replace"),
        "");
    mockbus::updateProperty(mockbus::led, systemFault, ledIface, "Asserted",
                            "s", "yes");
    ASSERT_EQ(rawCall(net, root, "org.freedesktop.DBus.Mock",
                      "AddEthernetInterface", nullptr, "s", "eth3"),
              "");
    // The network service's own FactoryReset.Reset is a recorded call, not
    // the mock's reset.
    EXPECT_EQ(rawCall(net, root, "xyz.openbmc_project.Common.FactoryReset",
                      "Reset", nullptr, ""),
              "");
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
    std::string job;
    EXPECT_EQ(rawCall(sd, mgr, manager, "RestartUnit", &job, "ss", pidControl,
                      "replace"),
              "");
    EXPECT_EQ(job, "/org/freedesktop/systemd1/job/1");
    EXPECT_EQ(mockbus::getProperty(mockbus::systemd, pidControlPath, unitIface,
                                   "ActiveState"),
              "s:active");
    EXPECT_EQ(
        mockbus::getProperty(mockbus::led, systemFault, ledIface, "Asserted"),
        "b:false");
    EXPECT_EQ(setBool(net, eth0, ethIface, "SSH", false), "");
    EXPECT_THROW(mockbus::getProperty(mockbus::network,
                                      "/xyz/openbmc_project/network/eth3",
                                      ethIface, "SSH"),
                 mockbus::Error);
    // The per-object logs are emptied as well as the merged one.
    mockbus::clearCalls(mockbus::network);
    sd_bus_message* own = nullptr;
    ASSERT_GE(sd_bus_call_method(mockbus::bus(), net, eth0,
                                 "org.freedesktop.DBus.Mock", "GetCalls",
                                 nullptr, &own, ""),
              0);
    ASSERT_GE(sd_bus_message_enter_container(own, 'a', "(tsav)"), 0);
    EXPECT_EQ(sd_bus_message_at_end(own, false), 1);
    sd_bus_message_unref(own);
}
