// Boot complete: whether the BMC has finished booting, as its "booted" LED
// group shows.
#include "boot_complete.hpp"

#include "board_seams.hpp"
#include "commands.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"

#include <ipmid/api.h>

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiGetBootComplete(ipmi_netfn_t, ipmi_cmd_t,
                                              ipmi_request_t request,
                                              ipmi_response_t response,
                                              ipmi_data_len_t dataLen,
                                              ipmi_context_t)
{
    // A failed call or a non-boolean value leaves as an exception.
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::boot_complete::getBootComplete,
                                 kestrel::BusLedGroups{});
}

KESTREL_EXPORT void register_netfn_oem_boot_complete()
    __attribute__((constructor(KESTREL_CTOR_BOOT_COMPLETE)));

void register_netfn_oem_boot_complete()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnKestrel, getBootComplete, nullptr,
                           ipmiGetBootComplete, SYSTEM_INTERFACE);
}

} // extern "C"
