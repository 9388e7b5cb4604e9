// The library's shared D-Bus and systemd helpers against the sandbox's mocked
// systemd and LED group manager.
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
using testing::StartsWith;

namespace
{

constexpr auto nothing = "/org/freedesktop/systemd1/unit/nothing";

struct DbusOpsTest : mockbus::MockTest
{
    DbusOpsTest() : MockTest({mockbus::systemd, mockbus::led})
    {
    }

    // Runs `body` inside a request coroutine with a context on a fresh
    // connection, as ipmid runs a typed handler.
    static void inContext(const std::function<void(ipmi::Context::ptr)>& body)
    {
        boost::asio::io_context io;
        auto bus = std::make_shared<sdbusplus::asio::connection>(
            io, sdbusplus::bus::new_system());
        bool done = false;
        boost::asio::spawn(
            io,
            [&](boost::asio::yield_context yield) {
                body(std::make_shared<ipmi::Context>(
                    bus, 0x3A, 0, 0x00, ipmi::channelSystemIface, 0, 0,
                    ipmi::Privilege::Admin, 0, 0, yield));
                done = true;
            },
            boost::asio::detached);
        while (!done && io.run_one() != 0)
        {
        }
        ASSERT_TRUE(done);
    }
};

std::string sdBusErrorOf(const std::function<void()>& f)
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

// The board seams' calls and their arguments are checked through the
// commands that use them; what fails, and how, is checked here.
TEST_F(DbusOpsTest, FailuresNameTheFailingStepOrTheWrongType)
{
    EXPECT_THAT(sdBusErrorOf([] { startStopUnit(nothing, "Start"); }),
                StartsWith("sd_bus_call noreply: "));
    EXPECT_THAT(sdBusErrorOf([] { getUnitActiveState(nothing); }),
                StartsWith("sd_bus_call: "));
    mockbus::updateProperty(mockbus::led, ledBmcBooted, ledInterface,
                            "Asserted", "s", "yes");
    EXPECT_THROW(getLedGroupAsserted(ledBmcBooted), std::bad_variant_access);
}

TEST_F(DbusOpsTest, AsyncCallsAnswerErrorCodesAndPrintFailures)
{
    mockbus::updateProperty(mockbus::led, ledBmcBooted, ledInterface,
                            "Asserted", "s", "on");
    inContext([](ipmi::Context::ptr ctx) {
        bool value = true;
        // A string is not a boolean: invalid_argument, value untouched.
        auto ec = getDbusProperty(ctx, ledService, ledBmcBooted, ledInterface,
                                  "Asserted", value);
        EXPECT_EQ(ec, boost::system::errc::make_error_code(
                          boost::system::errc::invalid_argument));
        EXPECT_EQ(ec.value(), 22);
        EXPECT_TRUE(value);

        testing::internal::CaptureStdout();
        EXPECT_FALSE(ipmi::performSystemdMethod(
            ctx, "phosphor-pid-control.service", "RestartUnit"));
        ec = ipmi::performSystemdMethod(ctx, "nothing.service", "StartUnit");
        EXPECT_TRUE(ec);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "Failed to perform systemd method: " + ec.message() + "\n");
        EXPECT_FALSE(ipmi::performSystemdDaemonReload(ctx));
    });
    auto calls = mockbus::allCalls(mockbus::systemd);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_THAT(calls[0].args,
                ElementsAre("s:phosphor-pid-control.service", "s:replace"));
    // StartUnit is refused with NoSuchUnit; Reload takes no arguments.
    EXPECT_EQ(calls[1].method + " " + calls[2].method, "StartUnit Reload");
    EXPECT_TRUE(calls[2].args.empty());

    mockbus::failMethod(mockbus::systemd, systemdObject, systemdManager,
                        "Reload", "", "",
                        "org.freedesktop.DBus.Error.AccessDenied", "not now");
    inContext([](ipmi::Context::ptr ctx) {
        testing::internal::CaptureStderr();
        auto ec = ipmi::performSystemdDaemonReload(ctx);
        EXPECT_TRUE(ec);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Failed to perform systemd daemon-reload: " + ec.message() +
                      "\n");
    });
}

} // namespace
