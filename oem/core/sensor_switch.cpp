#include "sensor_switch.hpp"

#include "dbus_names.hpp"

#include <cstdint>

namespace kestrel::sensor_switch
{
namespace
{

constexpr uint8_t switchStop = 0x00;
constexpr uint8_t switchStart = 0x01;
constexpr uint8_t selectorPsu = 0x00;

void applySwitch(Units& units, const char* unitPath, uint8_t value)
{
    if (value == switchStop)
    {
        units.startStop(unitPath, "Stop");
    }
    else if (value == switchStart)
    {
        units.startStop(unitPath, "Start");
    }
}

// A transitional state ("activating", "deactivating", ...) reports 0x00,
// what ipmid's zeroed buffer held before this byte was written.
Answer reportState(Units& units, const char* unitPath)
{
    return success({units.activeState(unitPath) == "active" ? uint8_t{0x01}
                                                            : uint8_t{0x00}});
}

} // namespace

Answer setChassisIntr(Request in, Units& units)
{
    if (in.size() < 1)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    applySwitch(units, dbus::unitIntrusionSensor, in[0]);
    return success();
}

Answer getChassisIntr(Request, Units& units)
{
    return reportState(units, dbus::unitIntrusionSensor);
}

Answer setMonitor(Request in, Units& units)
{
    if (in.size() < 2)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    if (in[0] == selectorPsu)
    {
        applySwitch(units, dbus::unitPsuSensor, in[1]);
    }
    return success();
}

Answer getMonitor(Request in, Units& units)
{
    if (in.size() < 1)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    if (in[0] != selectorPsu)
    {
        return success({0x00});
    }
    return reportState(units, dbus::unitPsuSensor);
}

} // namespace kestrel::sensor_switch
