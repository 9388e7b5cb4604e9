// Chassis ID: Set writes the checksummed record to the board EEPROM, Get
// reads it back and answers the ID or 31 bytes of 0xFF.
#include "chassis_id.hpp"

#include "board_seams.hpp"
#include "commands.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"

#include <ipmid/api.h>

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiSetChassisId(ipmi_netfn_t, ipmi_cmd_t,
                                           ipmi_request_t request,
                                           ipmi_response_t response,
                                           ipmi_data_len_t dataLen,
                                           ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::chassis_id::setChassisId,
                                 kestrel::BoardEeprom{});
}

KESTREL_EXPORT ipmi_ret_t ipmiGetChassisId(ipmi_netfn_t, ipmi_cmd_t,
                                           ipmi_request_t request,
                                           ipmi_response_t response,
                                           ipmi_data_len_t dataLen,
                                           ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::chassis_id::getChassisId,
                                 kestrel::BoardEeprom{});
}

KESTREL_EXPORT void register_netfn_oem_chassis_id()
    __attribute__((constructor(KESTREL_CTOR_CHASSIS_ID)));

void register_netfn_oem_chassis_id()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnKestrel, setChassisId, nullptr,
                           ipmiSetChassisId, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, getChassisId, nullptr,
                           ipmiGetChassisId, SYSTEM_INTERFACE);
}

} // extern "C"
