// The board's implementations of the shared core seams: D-Bus through the
// blocking operations, the EEPROM through libromcell.
#pragma once

#include "dbus_ops.hpp"
#include "seams.hpp"

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

} // namespace kestrel
