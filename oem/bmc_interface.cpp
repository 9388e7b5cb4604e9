// BMC interface: a fixed report of the BMC's interfaces, one byte per bit of
// the mask in the request.
#include "bmc_interface.hpp"

#include "commands.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"

#include <ipmid/api.h>

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiGetBmcInterface(ipmi_netfn_t, ipmi_cmd_t,
                                              ipmi_request_t request,
                                              ipmi_response_t response,
                                              ipmi_data_len_t dataLen,
                                              ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::bmc_interface::getBmcInterface);
}

KESTREL_EXPORT void register_netfn_oem_bmc_interface()
    __attribute__((constructor(KESTREL_CTOR_BMC_INTERFACE)));

void register_netfn_oem_bmc_interface()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnBmcInterface, getBmcInterface, nullptr,
                           ipmiGetBmcInterface, SYSTEM_INTERFACE);
}

} // extern "C"
