// Restore default: the typed handler, its D-Bus requests through the request
// context's connection, and the delayed shutdown on a detached thread.
#include "restore_default.hpp"

#include "board_seams.hpp"
#include "commands.hpp"
#include "dbus_names.hpp"
#include "dbus_ops.hpp"
#include "kestrel.hpp"

#include <sys/wait.h>

#include <boost/system/error_code.hpp>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <ipmid/api.hpp>
#include <ipmid/utils.hpp>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

namespace
{

constexpr int32_t shutdownDelaySeconds = 1;

boost::system::error_code requestFactoryReset(const ipmi::Context::ptr& ctx)
{
    using namespace kestrel::dbus;
    return ipmi::callDbusMethod(ctx, updaterService, softwareObject,
                                factoryResetInterface, "Reset");
}

boost::system::error_code requestBmcReboot(const ipmi::Context::ptr& ctx)
{
    using namespace kestrel::dbus;
    return ipmi::setDbusProperty(ctx, bmcStateService, bmcStateObject,
                                 bmcStateInterface, "RequestedBMCTransition",
                                 ipmi::Value(std::string(bmcReboot)));
}

boost::system::error_code requestChassisOff(const ipmi::Context::ptr& ctx)
{
    using namespace kestrel::dbus;
    return ipmi::setDbusProperty(
        ctx, chassisStateService, chassisStateObject, chassisStateInterface,
        "RequestedPowerTransition", ipmi::Value(std::string(chassisOff)));
}

struct NanoSleep final : kestrel::restore_default::Sleep
{
    void wait(int32_t seconds) override
    {
        timespec remaining{seconds, 0};
        while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR)
        {
        }
    }
};

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
    NanoSleep sleep;
    kestrel::SystemShell shell;
    return kestrel::restore_default::delayShutdown(seconds, sleep, shell);
}

} // extern "C"

namespace
{

/** Starts delay_shutdown on a detached thread; false when no thread could be
 *  created. */
bool startDetachedShutdown(int32_t seconds)
{
    try
    {
        std::thread(delay_shutdown, seconds).detach();
        return true;
    }
    catch (const std::system_error&)
    {
        return false;
    }
}

/** The restore actions on the request context's connection. */
struct ContextRestoreActions final : kestrel::restore_default::RestoreActions
{
    explicit ContextRestoreActions(ipmi::Context::ptr& ctx) : ctx(ctx)
    {
    }

    void bmcBootedLedOff() override
    {
        hbled_off(ctx);
    }
    bool factoryReset() override
    {
        return !requestFactoryReset(ctx);
    }
    bool bmcReboot() override
    {
        return !requestBmcReboot(ctx);
    }
    bool chassisOff() override
    {
        return !requestChassisOff(ctx);
    }
    bool startDelayedShutdown(int32_t seconds) override
    {
        return startDetachedShutdown(seconds);
    }

    ipmi::Context::ptr& ctx;
};

} // namespace

KESTREL_EXPORT ipmi::RspType<> ipmiRestoreDefault(ipmi::Context::ptr& ctx,
                                                  std::optional<uint8_t> option)
{
    ContextRestoreActions actions(ctx);
    auto answer = kestrel::restore_default::restoreDefault(
        option, actions, shutdownDelaySeconds);
    return ipmi::response(answer.cc);
}

extern "C" {

KESTREL_EXPORT void register_netfn_oem_restore_default()
    __attribute__((constructor(KESTREL_CTOR_RESTORE_DEFAULT)));

void register_netfn_oem_restore_default()
{
    using namespace kestrel::cmd;
    ipmi::registerHandler(ipmi::prioOpenBmcBase, netFnKestrel, restoreDefault,
                          ipmi::Privilege::Admin, ipmiRestoreDefault);
}

} // extern "C"
