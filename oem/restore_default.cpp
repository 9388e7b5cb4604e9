// Restore default: factory reset of the BMC, then a reboot or a shutdown.
// The handler changes no configuration itself; it asks the LED group
// manager, the software updater and the BMC and chassis state managers over
// D-Bus.  A shutdown runs on a detached thread after a short delay, so the
// reply reaches the requester first.
#include "dbus_ops.hpp"
#include "kestrel.hpp"

#include <ipmid/api.hpp>
#include <ipmid/utils.hpp>

#include <boost/system/error_code.hpp>

#include <sys/wait.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

namespace
{

constexpr ipmi::NetFn netFnKestrel = 0x3A;
constexpr ipmi::Cmd cmdRestoreDefault = 0x66;

constexpr uint8_t optResetAndReboot = 0x01;
constexpr uint8_t optResetAndShutdown = 0x02;
constexpr uint8_t optShutdown = 0x03;
constexpr uint8_t optPowerOffAndShutdown = 0x04;
constexpr uint8_t optResetOnly = 0x05;

constexpr int32_t shutdownDelaySeconds = 1;


constexpr auto updaterService = "xyz.openbmc_project.Software.BMC.Updater";
constexpr auto softwareObject = "/xyz/openbmc_project/software";
constexpr auto factoryResetInterface =
    "xyz.openbmc_project.Common.FactoryReset";

constexpr auto bmcStateService = "xyz.openbmc_project.State.BMC";
constexpr auto bmcStateObject = "/xyz/openbmc_project/state/bmc0";
constexpr auto bmcStateInterface = "xyz.openbmc_project.State.BMC";
constexpr auto bmcReboot = "xyz.openbmc_project.State.BMC.Transition.Reboot";

constexpr auto chassisStateService = "xyz.openbmc_project.State.Chassis";
constexpr auto chassisStateObject = "/xyz/openbmc_project/state/chassis0";
constexpr auto chassisStateInterface = "xyz.openbmc_project.State.Chassis";
constexpr auto chassisOff = "xyz.openbmc_project.State.Chassis.Transition.Off";

boost::system::error_code requestFactoryReset(const ipmi::Context::ptr& ctx)
{
    return ipmi::callDbusMethod(ctx, updaterService, softwareObject,
                                factoryResetInterface, "Reset");
}

boost::system::error_code requestBmcReboot(const ipmi::Context::ptr& ctx)
{
    return ipmi::setDbusProperty(ctx, bmcStateService, bmcStateObject,
                                 bmcStateInterface, "RequestedBMCTransition",
                                 ipmi::Value(std::string(bmcReboot)));
}

boost::system::error_code requestChassisOff(const ipmi::Context::ptr& ctx)
{
    return ipmi::setDbusProperty(ctx, chassisStateService, chassisStateObject,
                                 chassisStateInterface,
                                 "RequestedPowerTransition",
                                 ipmi::Value(std::string(chassisOff)));
}

} // namespace

extern "C" {

/** De-asserts the "bmc_booted" LED group; the write's result is not looked
 *  at. */
KESTREL_EXPORT void hbled_off(const ipmi::Context::ptr& ctx)
{
    static_cast<void>(ipmi::setDbusProperty(
        ctx, kestrel::dbus::ledService, kestrel::dbus::ledBmcBooted,
        kestrel::dbus::ledInterface, "Asserted", ipmi::Value(false)));
}

/** Asks the software updater for a factory reset; the call's result is not
 *  looked at. */
KESTREL_EXPORT void factory_reset(const ipmi::Context::ptr& ctx)
{
    static_cast<void>(requestFactoryReset(ctx));
}

/** Sleeps `seconds` (none when 0 or less), resuming after a signal for the
 *  time that remains, then runs "shutdown" through the shell.  Returns the
 *  shell's exit status, or -1 when the shell could not be run or did not
 *  exit normally. */
KESTREL_EXPORT int delay_shutdown(int32_t seconds)
{
    if (seconds > 0)
    {
        timespec remaining{seconds, 0};
        while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR)
        {
        }
    }
    int status = std::system("shutdown");
    if (status == -1 || !WIFEXITED(status))
    {
        return -1;
    }
    return WEXITSTATUS(status);
}

} // extern "C"

namespace
{

/** Starts the delayed shutdown on a detached thread; false when no thread
 *  could be created. */
bool startDelayedShutdown()
{
    try
    {
        std::thread(delay_shutdown, shutdownDelaySeconds).detach();
        return true;
    }
    catch (const std::system_error&)
    {
        return false;
    }
}

} // namespace

/** Request: an optional restore option (0x01 when absent).  Every action of
 *  the option runs even when an earlier one failed; the reply then says that
 *  the restore did not fully take place. */
KESTREL_EXPORT ipmi::RspType<> ipmiRestoreDefault(ipmi::Context::ptr& ctx,
                                                  std::optional<uint8_t> option)
{
    bool failed = false;
    auto check = [&failed](const boost::system::error_code& ec) {
        if (ec)
        {
            failed = true;
        }
    };
    auto shutdownLater = [&failed]() {
        if (!startDelayedShutdown())
        {
            failed = true;
        }
    };

    switch (option.value_or(optResetAndReboot))
    {
        case optResetAndReboot:
            hbled_off(ctx);
            check(requestFactoryReset(ctx));
            check(requestBmcReboot(ctx));
            break;
        case optResetAndShutdown:
            hbled_off(ctx);
            check(requestFactoryReset(ctx));
            shutdownLater();
            break;
        case optShutdown:
            shutdownLater();
            break;
        case optPowerOffAndShutdown:
            check(requestChassisOff(ctx));
            shutdownLater();
            break;
        case optResetOnly:
            check(requestFactoryReset(ctx));
            break;
        default:
            return ipmi::responseInvalidFieldRequest();
    }
    if (failed)
    {
        return ipmi::responseUnspecifiedError();
    }
    return ipmi::responseSuccess();
}

extern "C" {

KESTREL_EXPORT void register_netfn_oem_restore_default()
    __attribute__((constructor(KESTREL_CTOR_RESTORE_DEFAULT)));

void register_netfn_oem_restore_default()
{
    ipmi::impl::registerHandler(
        KESTREL_TYPED_PRIORITY, netFnKestrel, cmdRestoreDefault,
        ipmi::Privilege::Admin,
        std::make_shared<ipmi::IpmiHandler<decltype(&ipmiRestoreDefault)>>(
            ipmiRestoreDefault));
}

} // extern "C"
