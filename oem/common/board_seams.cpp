#include "board_seams.hpp"

#include "dbus_blocking.hpp"

#include <sys/wait.h>

#include <cstdlib>

#include "romcell.h"

namespace kestrel
{

void SystemdUnits::startStop(const std::string& unitPath,
                             const std::string& member)
{
    dbus::startStopUnit(unitPath, member);
}

std::string SystemdUnits::activeState(const std::string& unitPath)
{
    return dbus::getUnitActiveState(unitPath);
}

void BusLedGroups::setAsserted(const std::string& groupPath, bool asserted)
{
    dbus::setLedGroupAsserted(groupPath, asserted);
}

bool BusLedGroups::asserted(const std::string& groupPath)
{
    return dbus::getLedGroupAsserted(groupPath);
}

int BoardEeprom::read(uint8_t* buffer, uint32_t offset, uint32_t length)
{
    return read_eeprom(buffer, offset, length);
}

int BoardEeprom::write(const uint8_t* data, uint32_t offset, uint32_t length)
{
    return write_eeprom(data, offset, length);
}

int SystemShell::run(const char* command)
{
    int status = std::system(command);
    if (status == -1 || !WIFEXITED(status))
    {
        return -1;
    }
    return WEXITSTATUS(status);
}

} // namespace kestrel
