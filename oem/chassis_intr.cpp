// Chassis intrusion: start or stop the intrusion-sensor service and report
// whether it runs.  Whether it runs after a reboot is up to its unit's own
// enablement, which these commands leave alone.
#include "kestrel.hpp"
#include "sensor_switch.hpp"

#include <ipmid/api.hpp>

#include <cstdint>

namespace
{
constexpr ipmi_netfn_t netFnKestrel = 0x3A;
constexpr ipmi_cmd_t cmdSetChassisIntr = 0x88;
constexpr ipmi_cmd_t cmdGetChassisIntr = 0x89;
} // namespace

extern "C" {

/** Request: the switch, 0x00 stop, 0x01 start, other values no action. */
KESTREL_EXPORT ipmi_ret_t ipmiSetChassisIntr(ipmi_netfn_t, ipmi_cmd_t,
                                             ipmi_request_t request,
                                             ipmi_response_t,
                                             ipmi_data_len_t dataLen,
                                             ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    if (length < 1)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    kestrel::sensor_switch::applySwitch(kestrel::dbus::unitIntrusionSensor,
                                        static_cast<const uint8_t*>(request)[0]);
    return ipmi::ccSuccess;
}

/** Response: 0x01 while the service is active, 0x00 while inactive. */
KESTREL_EXPORT ipmi_ret_t ipmiGetChassisIntr(ipmi_netfn_t, ipmi_cmd_t,
                                             ipmi_request_t,
                                             ipmi_response_t response,
                                             ipmi_data_len_t dataLen,
                                             ipmi_context_t)
{
    kestrel::sensor_switch::reportState(kestrel::dbus::unitIntrusionSensor,
                                        static_cast<uint8_t*>(response));
    *dataLen = 1;
    return ipmi::ccSuccess;
}

KESTREL_EXPORT void register_netfn_oem_chassis_intr()
    __attribute__((constructor(KESTREL_CTOR_CHASSIS_INTR)));

void register_netfn_oem_chassis_intr()
{
    ipmi_register_callback(netFnKestrel, cmdSetChassisIntr, nullptr,
                           ipmiSetChassisIntr, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, cmdGetChassisIntr, nullptr,
                           ipmiGetChassisIntr, SYSTEM_INTERFACE);
}

} // extern "C"
