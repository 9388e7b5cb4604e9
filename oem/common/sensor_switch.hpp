// Switching a sensor service on or off by its systemd unit, and reporting
// whether it runs: shared by the intrusion-sensor and PSU-sensor commands.
#pragma once

#include "dbus_ops.hpp"

#include <cstdint>

namespace kestrel::sensor_switch
{

inline constexpr uint8_t switchStop = 0x00;
inline constexpr uint8_t switchStart = 0x01;

/** Stop for 0x00, Start for 0x01, nothing for any other value.  D-Bus
 *  failures throw. */
inline void applySwitch(const char* unitPath, uint8_t value)
{
    if (value == switchStop)
    {
        dbus::startStopUnit(unitPath, "Stop");
    }
    else if (value == switchStart)
    {
        dbus::startStopUnit(unitPath, "Start");
    }
}

/** 0x01 into *state when the unit is "active", 0x00 when "inactive"; any
 *  transitional state leaves *state as it is. */
inline void reportState(const char* unitPath, uint8_t* state)
{
    auto active = dbus::getUnitActiveState(unitPath);
    if (active == "active")
    {
        *state = 0x01;
    }
    else if (active == "inactive")
    {
        *state = 0x00;
    }
}

} // namespace kestrel::sensor_switch
