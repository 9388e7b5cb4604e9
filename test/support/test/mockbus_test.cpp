// A reset undoes whatever a test did to a mock, so no test passes on the
// state an earlier one left; raw sd-bus calls see error names as a client of
// the real service would.

#include "mockbus.hpp"

#include <systemd/sd-bus.h>

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mockbus = kestrel::test::mockbus;

namespace
{

constexpr const char* manager = "org.freedesktop.systemd1.Manager";
constexpr const char* unitIface = "org.freedesktop.systemd1.Unit";
constexpr const char* pidControlPath =
    "/org/freedesktop/systemd1/unit/phosphor_2dpid_2dcontrol_2eservice";
constexpr const char* ledIface = "xyz.openbmc_project.Led.Group";
constexpr const char* systemFault =
    "/xyz/openbmc_project/led/groups/system_fault";
constexpr const char* ethIface =
    "xyz.openbmc_project.Network.EthernetInterface";
constexpr const char* eth0 = "/xyz/openbmc_project/network/eth0";
constexpr const char* eth3 = "/xyz/openbmc_project/network/eth3";

// The error name of a raw call, "" on success.
template <typename... Args>
std::string rawCall(const mockbus::Service& to, const char* path,
                    const char* iface, const char* member,
                    sd_bus_message** reply, const char* sig, Args... args)
{
    sd_bus_error err = SD_BUS_ERROR_NULL;
    int r = sd_bus_call_method(mockbus::bus(), to.name, path, iface, member,
                               &err, reply, sig, args...);
    std::string out = r < 0 && err.name != nullptr ? err.name : "";
    sd_bus_error_free(&err);
    return r < 0 && out.empty() ? "errno" : out;
}

std::string restartPidControl(sd_bus_message** reply = nullptr)
{
    return rawCall(mockbus::systemd, mockbus::systemd.mainPath, manager,
                   "RestartUnit", reply, "ss", "phosphor-pid-control.service",
                   "replace");
}

std::string setSsh()
{
    return rawCall(mockbus::network, eth0, "org.freedesktop.DBus.Properties",
                   "Set", nullptr, "ssv", ethIface, "SSH", "b", 0);
}

} // namespace

TEST(MockChecks, ResetUndoesWhatATestDidToAMock)
{
    // Injected failures, a stopped unit, a wrongly typed value, a new object.
    mockbus::failMethod(mockbus::systemd, mockbus::systemd.mainPath, manager,
                        "RestartUnit", "ss", "o",
                        "org.freedesktop.DBus.Error.AccessDenied", "denied");
    EXPECT_EQ(restartPidControl(), "org.freedesktop.DBus.Error.AccessDenied");
    mockbus::failSet(mockbus::network, eth0, "SSH",
                     "xyz.openbmc_project.Common.Error.NotAllowed", "locked");
    EXPECT_EQ(setSsh(), "xyz.openbmc_project.Common.Error.NotAllowed");
    ASSERT_EQ(rawCall(mockbus::systemd, pidControlPath, unitIface, "Stop",
                      nullptr, "s", "replace"),
              "");
    mockbus::updateProperty(mockbus::led, systemFault, ledIface, "Asserted",
                            "s", "yes");
    ASSERT_EQ(rawCall(mockbus::network, mockbus::network.mainPath,
                      "org.freedesktop.DBus.Mock", "AddEthernetInterface",
                      nullptr, "s", "eth3"),
              "");
    EXPECT_EQ(mockbus::getProperty(mockbus::network, eth3, ethIface, "SSH"),
              "b:true");

    for (const auto& service :
         {mockbus::systemd, mockbus::led, mockbus::network})
    {
        mockbus::reset(service);
        EXPECT_THAT(mockbus::allCalls(service), testing::IsEmpty())
            << service.key;
    }
    sd_bus_message* reply = nullptr;
    EXPECT_EQ(restartPidControl(&reply), "");
    const char* job = nullptr;
    EXPECT_GE(sd_bus_message_read(reply, "o", &job), 0);
    EXPECT_STREQ(job, "/org/freedesktop/systemd1/job/1");
    sd_bus_message_unref(reply);
    EXPECT_EQ(mockbus::getProperty(mockbus::systemd, pidControlPath, unitIface,
                                   "ActiveState"),
              "s:active");
    EXPECT_EQ(
        mockbus::getProperty(mockbus::led, systemFault, ledIface, "Asserted"),
        "b:false");
    EXPECT_EQ(setSsh(), "");
    EXPECT_THROW(mockbus::getProperty(mockbus::network, eth3, ethIface, "SSH"),
                 mockbus::Error);
}
