// The shared D-Bus and systemd operations against the mocked systemd, LED
// group manager and host state services of the sandbox.
#include "dbus_ops.hpp"
#include "mockbus.hpp"
#include "sandbox.hpp"

#include <boost/asio/detached.hpp>
#include <boost/asio/spawn.hpp>
#include <functional>
#include <sdbusplus/asio/connection.hpp>
#include <sdbusplus/exception.hpp>
#include <variant>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mockbus = kestrel::test::mockbus;
using namespace kestrel::dbus;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;

namespace
{

constexpr auto pidControl = "phosphor-pid-control.service";

class DbusOpsTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        for (auto service :
             {mockbus::systemd, mockbus::led, mockbus::stateHost})
        {
            mockbus::reset(service);
        }
    }

    // Runs `body` inside a request coroutine with a context on a fresh
    // connection, as ipmid runs a typed handler.
    void inContext(const std::function<void(ipmi::Context::ptr)>& body)
    {
        boost::asio::io_context io;
        auto bus = std::make_shared<sdbusplus::asio::connection>(
            io, sdbusplus::bus::new_system());
        bool done = false;
        boost::asio::spawn(
            io,
            [&](boost::asio::yield_context yield) {
                auto ctx = std::make_shared<ipmi::Context>(
                    bus, 0x3A, 0, 0x00, ipmi::channelSystemIface, 0, 0,
                    ipmi::Privilege::Admin, 0, 0, yield);
                body(ctx);
                done = true;
            },
            boost::asio::detached);
        while (!done && io.run_one() != 0)
        {
        }
        ASSERT_TRUE(done);
    }
};

template <typename F>
std::string sdBusErrorOf(F&& f)
{
    try
    {
        f();
    }
    catch (const sdbusplus::exception::SdBusError& e)
    {
        return e.what();
    }
    return "(nothing thrown)";
}

TEST_F(DbusOpsTest, UnitJobsUseTheUnitObjectAndReplaceMode)
{
    startStopUnit(unitFanControl, "Stop");
    EXPECT_EQ(getUnitActiveState(unitFanControl), "inactive");
    startStopUnit(unitFanControl, "Start");
    EXPECT_EQ(getUnitActiveState(unitFanControl), "active");
    startStopUnit(unitNetworkd, "Restart");

    auto calls = mockbus::allCalls(mockbus::systemd);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].path, unitFanControl);
    EXPECT_EQ(calls[0].method, "Stop");
    EXPECT_THAT(calls[0].args, ElementsAre("s:replace"));
    EXPECT_EQ(calls[1].method, "Start");
    EXPECT_EQ(calls[2].path, unitNetworkd);
    EXPECT_EQ(calls[2].method, "Restart");
    EXPECT_THAT(calls[2].args, ElementsAre("s:replace"));
}

TEST_F(DbusOpsTest, ActiveStateIsPassedThroughWhateverItSays)
{
    mockbus::updateProperty(mockbus::systemd, unitPsuSensor, systemdUnit,
                            "ActiveState", "s", "activating");
    EXPECT_EQ(getUnitActiveState(unitPsuSensor), "activating");
    mockbus::updateProperty(mockbus::systemd, unitPsuSensor, systemdUnit,
                            "ActiveState", "s", "failed");
    EXPECT_EQ(getUnitActiveState(unitPsuSensor), "failed");
}

TEST_F(DbusOpsTest, FailuresCarryTheNameOfTheFailingStep)
{
    EXPECT_THAT(sdBusErrorOf([] { startStopUnit("not a path", "Start"); }),
                StartsWith("sd_bus_message_new_method_call"));
    EXPECT_THAT(sdBusErrorOf([] {
                    startStopUnit("/org/freedesktop/systemd1/unit/nothing",
                                  "Start");
                }),
                StartsWith("sd_bus_call noreply: "));
    EXPECT_THAT(sdBusErrorOf([] {
                    getUnitActiveState(
                        "/org/freedesktop/systemd1/unit/nothing");
                }),
                StartsWith("sd_bus_call: "));
    // The typed Set of the LED manager refuses a string for a boolean.
    EXPECT_THAT(sdBusErrorOf([] {
                    setPropertyNoReply(ledService, ledSystemFault, ledInterface,
                                       "Asserted", std::string("yes"));
                }),
                StartsWith("sd_bus_call noreply: "
                           "org.freedesktop.DBus.Error.InvalidArgs"));
}

TEST_F(DbusOpsTest, LedGroupsAreWrittenAndReadAsBooleans)
{
    setLedGroupAsserted(ledSystemFault, true);
    EXPECT_TRUE(getLedGroupAsserted(ledSystemFault));
    EXPECT_FALSE(getLedGroupAsserted(ledBmcBooted));
    EXPECT_EQ(mockbus::getProperty(mockbus::led, ledSystemFault, ledInterface,
                                   "Asserted"),
              "b:true");

    auto calls = mockbus::allCalls(mockbus::led);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].path, ledSystemFault);
    EXPECT_EQ(calls[0].method, "Set");
    EXPECT_THAT(calls[0].args, ElementsAre("s:xyz.openbmc_project.Led.Group",
                                           "s:Asserted", "b:true"));
}

TEST_F(DbusOpsTest, NonBooleanLedValueIsABadVariantAccess)
{
    mockbus::updateProperty(mockbus::led, ledBmcBooted, ledInterface,
                            "Asserted", "s", "yes");
    try
    {
        getLedGroupAsserted(ledBmcBooted);
        FAIL() << "no exception";
    }
    catch (const std::bad_variant_access& e)
    {
        EXPECT_STREQ(e.what(), "std::get: wrong index for variant");
    }
    // And a non-string ActiveState the same way.
    mockbus::updateProperty(mockbus::systemd, unitFanControl, systemdUnit,
                            "ActiveState", "u", "1");
    EXPECT_THROW(getUnitActiveState(unitFanControl), std::bad_variant_access);
}

TEST_F(DbusOpsTest, StringPropertiesAndMethodArgumentsGoOutAsGiven)
{
    setPropertyNoReply(
        "xyz.openbmc_project.State.Host", "/xyz/openbmc_project/state/host0",
        "xyz.openbmc_project.State.Boot.Progress", "BootProgress",
        std::string("xyz.openbmc_project.State.Boot.Progress."
                    "ProgressStages.OSStart"));
    EXPECT_EQ(
        mockbus::getProperty(
            mockbus::stateHost, "/xyz/openbmc_project/state/host0",
            "xyz.openbmc_project.State.Boot.Progress", "BootProgress"),
        "s:xyz.openbmc_project.State.Boot.Progress.ProgressStages.OSStart");

    callMethodNoReply(systemdService, systemdObject, systemdManager,
                      "RestartUnit", std::string(pidControl), "replace");
    auto calls = mockbus::allCalls(mockbus::systemd);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method, "RestartUnit");
    EXPECT_THAT(calls[0].args,
                ElementsAre("s:phosphor-pid-control.service", "s:replace"));
}

TEST_F(DbusOpsTest, AsyncBooleanReadReportsTypeAndBusErrors)
{
    mockbus::updateProperty(mockbus::led, ledSystemFault, ledInterface,
                            "Asserted", "b", "true");
    mockbus::updateProperty(mockbus::led, ledBmcBooted, ledInterface,
                            "Asserted", "s", "on");
    inContext([](ipmi::Context::ptr ctx) {
        bool value = false;
        auto ec = getDbusProperty(ctx, ledService, ledSystemFault, ledInterface,
                                  "Asserted", value);
        EXPECT_FALSE(ec);
        EXPECT_TRUE(value);

        // A string is not a boolean: invalid_argument, value untouched.
        ec = getDbusProperty(ctx, ledService, ledBmcBooted, ledInterface,
                             "Asserted", value);
        EXPECT_EQ(ec, boost::system::errc::make_error_code(
                          boost::system::errc::invalid_argument));
        EXPECT_EQ(ec.value(), 22);
        EXPECT_TRUE(value);

        value = false;
        ec = getDbusProperty(ctx, "xyz.openbmc_project.Nobody", ledSystemFault,
                             ledInterface, "Asserted", value);
        EXPECT_TRUE(ec);
        EXPECT_FALSE(value);
    });
}

TEST_F(DbusOpsTest, SystemdManagerMethodsAndTheirFailureLines)
{
    inContext([](ipmi::Context::ptr ctx) {
        testing::internal::CaptureStdout();
        auto ec = ipmi::performSystemdMethod(ctx, pidControl, "RestartUnit");
        EXPECT_FALSE(ec);
        ec = ipmi::performSystemdMethod(ctx, "nothing.service", "StartUnit");
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(ec);
        EXPECT_EQ(out,
                  "Failed to perform systemd method: " + ec.message() + "\n");

        EXPECT_FALSE(ipmi::performSystemdDaemonReload(ctx));
    });
    auto calls = mockbus::allCalls(mockbus::systemd);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].path, systemdObject);
    EXPECT_EQ(calls[0].method, "RestartUnit");
    EXPECT_THAT(calls[0].args,
                ElementsAre("s:phosphor-pid-control.service", "s:replace"));
    EXPECT_EQ(calls[1].method, "StartUnit"); // refused with NoSuchUnit
    EXPECT_EQ(calls[2].method, "Reload");
    EXPECT_THAT(calls[2].args, testing::IsEmpty());

    mockbus::failMethod(mockbus::systemd, systemdObject, systemdManager,
                        "Reload", "", "",
                        "org.freedesktop.DBus.Error.AccessDenied", "not now");
    inContext([](ipmi::Context::ptr ctx) {
        testing::internal::CaptureStderr();
        auto ec = ipmi::performSystemdDaemonReload(ctx);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(ec);
        EXPECT_EQ(err, "Failed to perform systemd daemon-reload: " +
                           ec.message() + "\n");
    });
}

} // namespace
