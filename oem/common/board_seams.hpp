// The board's implementations of the shared core seams: D-Bus through the
// blocking operations, the EEPROM through libromcell.
#pragma once

#include "dbus_ops.hpp"
#include "seams.hpp"

#include <sys/wait.h>

#include <cstdlib>

#include "romcell.h"

namespace kestrel
{

struct SystemdUnits final : Units
{
    void startStop(const std::string& unitPath,
                   const std::string& member) override
    {
        dbus::startStopUnit(unitPath, member);
    }
    std::string activeState(const std::string& unitPath) override
    {
        return dbus::getUnitActiveState(unitPath);
    }
};

struct BusLedGroups final : LedGroups
{
    void setAsserted(const std::string& groupPath, bool asserted) override
    {
        dbus::setLedGroupAsserted(groupPath, asserted);
    }
    bool asserted(const std::string& groupPath) override
    {
        return dbus::getLedGroupAsserted(groupPath);
    }
};

struct BoardEeprom final : Eeprom
{
    int read(uint8_t* buffer, uint32_t offset, uint32_t length) override
    {
        return read_eeprom(buffer, offset, length);
    }
    int write(const uint8_t* data, uint32_t offset, uint32_t length) override
    {
        return write_eeprom(data, offset, length);
    }
};

/** The system shell, through system(3): the command's exit status, or -1
 *  when it did not exit normally. */
struct SystemShell final : Shell
{
    int run(const char* command) override
    {
        int status = std::system(command);
        if (status == -1 || !WIFEXITED(status))
        {
            return -1;
        }
        return WEXITSTATUS(status);
    }
};

} // namespace kestrel
