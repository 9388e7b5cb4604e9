// Outside effects that several command cores share, each behind one small
// interface.  The adapters pass the board's implementations
// (board_seams.hpp); core tests pass fakes that record what was asked.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel
{

/** systemd units, by object path.  The board's implementation makes
 *  blocking D-Bus calls and lets their failures escape as exceptions. */
struct Units
{
    virtual ~Units() = default;
    /** Start, Stop or Restart, job mode "replace". */
    virtual void startStop(const std::string& unitPath,
                           const std::string& member) = 0;
    /** ActiveState as systemd reports it ("active", "inactive", ...). */
    virtual std::string activeState(const std::string& unitPath) = 0;
};

/** LED groups of the LED group manager, by object path; blocking, failures
 *  escape as exceptions. */
struct LedGroups
{
    virtual ~LedGroups() = default;
    virtual void setAsserted(const std::string& groupPath, bool asserted) = 0;
    virtual bool asserted(const std::string& groupPath) = 0;
};

/** The board EEPROM: 0 or a negative errno, as libromcell answers. */
struct Eeprom
{
    virtual ~Eeprom() = default;
    virtual int read(uint8_t* buffer, uint32_t offset, uint32_t length) = 0;
    virtual int write(const uint8_t* data, uint32_t offset,
                      uint32_t length) = 0;
};

/** Runs a command line through the shell and waits for it.  Returns the
 *  command's exit status, or -1 when the shell could not be run or the
 *  command did not exit normally. */
struct Shell
{
    virtual ~Shell() = default;
    virtual int run(const char* command) = 0;
};

} // namespace kestrel
