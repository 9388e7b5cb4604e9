// PSU monitor: start or stop the PSU sensor service and report whether it
// runs.  Byte 0 of each request selects the monitor; only 0x00 (the PSU
// sensors) exists.
#include "board_seams.hpp"
#include "commands.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"
#include "sensor_switch.hpp"

#include <ipmid/api.h>

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiSetMonitor(ipmi_netfn_t, ipmi_cmd_t,
                                         ipmi_request_t request,
                                         ipmi_response_t response,
                                         ipmi_data_len_t dataLen,
                                         ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::sensor_switch::setMonitor,
                                 kestrel::SystemdUnits{});
}

KESTREL_EXPORT ipmi_ret_t ipmiGetMonitor(ipmi_netfn_t, ipmi_cmd_t,
                                         ipmi_request_t request,
                                         ipmi_response_t response,
                                         ipmi_data_len_t dataLen,
                                         ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::sensor_switch::getMonitor,
                                 kestrel::SystemdUnits{});
}

KESTREL_EXPORT void register_netfn_oem_monitor_intr()
    __attribute__((constructor(KESTREL_CTOR_MONITOR_INTR)));

void register_netfn_oem_monitor_intr()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnKestrel, setMonitor, nullptr, ipmiSetMonitor,
                           SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, getMonitor, nullptr, ipmiGetMonitor,
                           SYSTEM_INTERFACE);
}

} // extern "C"
