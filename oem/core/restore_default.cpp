#include "restore_default.hpp"

namespace kestrel::restore_default
{
namespace
{

constexpr uint8_t optResetAndReboot = 0x01;
constexpr uint8_t optResetAndShutdown = 0x02;
constexpr uint8_t optShutdown = 0x03;
constexpr uint8_t optPowerOffAndShutdown = 0x04;
constexpr uint8_t optResetOnly = 0x05;

} // namespace

Answer restoreDefault(std::optional<uint8_t> option, RestoreActions& actions,
                      int32_t shutdownDelaySeconds)
{
    bool failed = false;
    auto check = [&failed](bool ok) {
        if (!ok)
        {
            failed = true;
        }
    };
    auto shutdownLater = [&check, &actions, shutdownDelaySeconds]() {
        check(actions.startDelayedShutdown(shutdownDelaySeconds));
    };

    switch (option.value_or(optResetAndReboot))
    {
        case optResetAndReboot:
            actions.bmcBootedLedOff();
            check(actions.factoryReset());
            check(actions.bmcReboot());
            break;
        case optResetAndShutdown:
            actions.bmcBootedLedOff();
            check(actions.factoryReset());
            shutdownLater();
            break;
        case optShutdown:
            shutdownLater();
            break;
        case optPowerOffAndShutdown:
            check(actions.chassisOff());
            shutdownLater();
            break;
        case optResetOnly:
            check(actions.factoryReset());
            break;
        default:
            return failure(ipmi::ccInvalidFieldRequest);
    }
    return failed ? failure(ipmi::ccUnspecifiedError) : success();
}

int delayShutdown(int32_t seconds, Sleep& sleep, Shell& shell)
{
    if (seconds > 0)
    {
        sleep.wait(seconds);
    }
    return shell.run("shutdown");
}

} // namespace kestrel::restore_default
