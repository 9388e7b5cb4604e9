// Chassis intrusion: start or stop the intrusion-sensor service and report
// whether it runs.  Whether it runs after a reboot is up to its unit's own
// enablement, which these commands leave alone.
#include "board_seams.hpp"
#include "commands.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"
#include "sensor_switch.hpp"

#include <ipmid/api.h>

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiSetChassisIntr(ipmi_netfn_t, ipmi_cmd_t,
                                             ipmi_request_t request,
                                             ipmi_response_t response,
                                             ipmi_data_len_t dataLen,
                                             ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::sensor_switch::setChassisIntr,
                                 kestrel::SystemdUnits{});
}

KESTREL_EXPORT ipmi_ret_t ipmiGetChassisIntr(ipmi_netfn_t, ipmi_cmd_t,
                                             ipmi_request_t request,
                                             ipmi_response_t response,
                                             ipmi_data_len_t dataLen,
                                             ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::sensor_switch::getChassisIntr,
                                 kestrel::SystemdUnits{});
}

KESTREL_EXPORT void register_netfn_oem_chassis_intr()
    __attribute__((constructor(KESTREL_CTOR_CHASSIS_INTR)));

void register_netfn_oem_chassis_intr()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnKestrel, setChassisIntr, nullptr,
                           ipmiSetChassisIntr, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, getChassisIntr, nullptr,
                           ipmiGetChassisIntr, SYSTEM_INTERFACE);
}

} // extern "C"
