// PSU monitor: start or stop the PSU sensor service and report whether it
// runs.  Byte 0 of each request selects the monitor; only 0x00 (the PSU
// sensors) exists.
#include "kestrel.hpp"
#include "sensor_switch.hpp"

#include <ipmid/api.hpp>

#include <cstdint>

namespace
{
constexpr ipmi_netfn_t netFnKestrel = 0x3A;
constexpr ipmi_cmd_t cmdSetMonitor = 0xE6;
constexpr ipmi_cmd_t cmdGetMonitor = 0xE7;
constexpr uint8_t selectorPsu = 0x00;
} // namespace

extern "C" {

/** Request: selector, switch (0x00 stop, 0x01 start, other no action).  A
 *  selector other than 0x00 does nothing and still succeeds. */
KESTREL_EXPORT ipmi_ret_t ipmiSetMonitor(ipmi_netfn_t, ipmi_cmd_t,
                                         ipmi_request_t request,
                                         ipmi_response_t,
                                         ipmi_data_len_t dataLen,
                                         ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    if (length < 2)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    const auto* in = static_cast<const uint8_t*>(request);
    if (in[0] == selectorPsu)
    {
        kestrel::sensor_switch::applySwitch(kestrel::dbus::unitPsuSensor,
                                            in[1]);
    }
    return ipmi::ccSuccess;
}

/** Request: selector.  Response: 0x01 while the PSU sensor service is
 *  active, 0x00 while inactive; for another selector the byte is not
 *  written. */
KESTREL_EXPORT ipmi_ret_t ipmiGetMonitor(ipmi_netfn_t, ipmi_cmd_t,
                                         ipmi_request_t request,
                                         ipmi_response_t response,
                                         ipmi_data_len_t dataLen,
                                         ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    if (length < 1)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    if (static_cast<const uint8_t*>(request)[0] == selectorPsu)
    {
        kestrel::sensor_switch::reportState(kestrel::dbus::unitPsuSensor,
                                            static_cast<uint8_t*>(response));
    }
    *dataLen = 1;
    return ipmi::ccSuccess;
}

KESTREL_EXPORT void register_netfn_oem_monitor_intr()
    __attribute__((constructor(KESTREL_CTOR_MONITOR_INTR)));

void register_netfn_oem_monitor_intr()
{
    ipmi_register_callback(netFnKestrel, cmdSetMonitor, nullptr,
                           ipmiSetMonitor, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, cmdGetMonitor, nullptr,
                           ipmiGetMonitor, SYSTEM_INTERFACE);
}

} // extern "C"
