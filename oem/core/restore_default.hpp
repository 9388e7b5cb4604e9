// Restore default: factory reset of the BMC, then a reboot or a shutdown.
// The command changes no configuration itself; it asks the LED group
// manager, the software updater and the BMC and chassis state managers.  A
// shutdown runs on a detached thread after a short delay, so the reply
// reaches the requester first.
#pragma once

#include "answer.hpp"
#include "seams.hpp"

#include <cstdint>
#include <optional>

namespace kestrel::restore_default
{

/** The actions a restore option is made of. */
struct RestoreActions
{
    virtual ~RestoreActions() = default;
    /** De-asserts the "bmc_booted" LED group; its result is not looked
     *  at. */
    virtual void bmcBootedLedOff() = 0;
    /** Each of these returns false when its request failed. */
    virtual bool factoryReset() = 0;
    virtual bool bmcReboot() = 0;
    virtual bool chassisOff() = 0;
    /** Starts the delayed shutdown, `seconds` from now, on a detached
     *  thread; false when no thread could be created. */
    virtual bool startDelayedShutdown(int32_t seconds) = 0;
};

/** Waits on the calling thread. */
struct Sleep
{
    virtual ~Sleep() = default;
    /** Sleeps `seconds` whole seconds, resuming after a signal for the time
     *  that remains. */
    virtual void wait(int32_t seconds) = 0;
};

/** An optional restore option (0x01 when absent): 0x01 factory reset and
 *  BMC reboot, 0x02 factory reset and shutdown, 0x03 shutdown, 0x04 chassis
 *  off and shutdown, 0x05 factory reset only; another option answers 0xCC.
 *  Every action of the option runs even when an earlier one failed; the
 *  answer is then 0xFF.  The shutdown, where there is one, waits
 *  `shutdownDelaySeconds`. */
Answer restoreDefault(std::optional<uint8_t> option, RestoreActions& actions,
                      int32_t shutdownDelaySeconds);

/** Sleeps `seconds` (none when 0 or less), then runs "shutdown" through the
 *  shell.  Returns the shell's exit status, or -1 when the shell could not be
 *  run or did not exit normally. */
int delayShutdown(int32_t seconds, Sleep& sleep, Shell& shell);

} // namespace kestrel::restore_default
