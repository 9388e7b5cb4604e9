// The library's shared D-Bus and systemd helpers, on the systemd mock (the
// fault test sees what the commands make of wrong types).
#include "dbus_ops.hpp"
#include "host_bus.hpp"
#include "mockbus.hpp"

#include <sdbusplus/exception.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mockbus = kestrel::test::mockbus;
using namespace kestrel::dbus;
using sdbusplus::exception::SdBusError;
using testing::StartsWith;
using testing::ThrowsMessage;

constexpr auto nothing = "/org/freedesktop/systemd1/unit/nothing";

// The asynchronous helpers, called from a typed handler of the host.
static void asyncChecks(ipmi::Context::ptr ctx)
{
    testing::internal::CaptureStdout();
    EXPECT_FALSE(ipmi::performSystemdMethod(ctx, "phosphor-pid-control.service",
                                            "RestartUnit"));
    auto ec = ipmi::performSystemdMethod(ctx, "nothing.service", "StartUnit");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Failed to perform systemd method: " + ec.message() + "\n");
    EXPECT_FALSE(ipmi::performSystemdDaemonReload(ctx));
    auto calls = mockbus::allCalls(mockbus::systemd);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].args,
              (std::vector<std::string>{"s:phosphor-pid-control.service",
                                        "s:replace"}));
    // StartUnit is refused with NoSuchUnit; Reload takes no arguments.
    EXPECT_EQ(calls[1].method + " " + calls[2].method, "StartUnit Reload");
    EXPECT_TRUE(calls[2].args.empty());

    mockbus::failMethod(mockbus::systemd, systemdObject, systemdManager,
                        "Reload", "", "",
                        "org.freedesktop.DBus.Error.AccessDenied", "not now");
    testing::internal::CaptureStderr();
    ec = ipmi::performSystemdDaemonReload(ctx);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Failed to perform systemd daemon-reload: " + ec.message() +
                  "\n");
}

// What fails, and how; the calls themselves are checked through the commands.
TEST(DbusOps, FailuresNameTheStepAndAsyncCallsAnswerErrorCodes)
{
    mockbus::reset(mockbus::systemd);
    EXPECT_THAT([] { startStopUnit(nothing, "Start"); },
                ThrowsMessage<SdBusError>(StartsWith("sd_bus_call noreply: ")));
    EXPECT_THAT([] { getUnitActiveState(nothing); },
                ThrowsMessage<SdBusError>(StartsWith("sd_bus_call: ")));
    mockbus::clearCalls(mockbus::systemd);
    ipmi::registerHandler(ipmi::prioOemBase, 0x30, 0x01, ipmi::Privilege::Admin,
                          [](ipmi::Context::ptr ctx) -> ipmi::RspType<> {
                              asyncChecks(ctx);
                              return ipmi::responseSuccess();
                          });
    kestrel::test::HostBus host;
    EXPECT_EQ(host.send(0x30, 0x01).cc, 0x00);
}
