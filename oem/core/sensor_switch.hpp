// Sensor-service switches: start or stop a sensor service's systemd unit and
// report whether it runs.  The intrusion sensor has its own pair of
// commands; the PSU monitor commands carry a selector byte first, of which
// only 0x00 (the PSU sensors) exists.
#pragma once

#include "answer.hpp"
#include "seams.hpp"

namespace kestrel::sensor_switch
{

/** Request: the switch, 0x00 stop, 0x01 start, other values no action. */
Answer setChassisIntr(Request in, Units& units);

/** Response: 0x01 while the intrusion sensor runs, 0x00 otherwise.  The
 *  request bytes are ignored. */
Answer getChassisIntr(Request in, Units& units);

/** Request: selector, switch.  Another selector than 0x00 does nothing and
 *  still succeeds. */
Answer setMonitor(Request in, Units& units);

/** Request: selector.  Response: as getChassisIntr for the PSU sensors;
 *  0x00 for another selector. */
Answer getMonitor(Request in, Units& units);

} // namespace kestrel::sensor_switch
