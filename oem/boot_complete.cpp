// Boot complete: whether the BMC has finished booting, as its "booted" LED
// group shows.
#include "dbus_ops.hpp"
#include "kestrel.hpp"

#include <ipmid/api.hpp>

#include <cstdint>

namespace
{
constexpr ipmi_netfn_t netFnKestrel = 0x3A;
constexpr ipmi_cmd_t cmdGetBootComplete = 0x67;
} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiGetBootComplete(ipmi_netfn_t, ipmi_cmd_t,
                                              ipmi_request_t,
                                              ipmi_response_t response,
                                              ipmi_data_len_t dataLen,
                                              ipmi_context_t)
{
    // A failed call or a non-boolean value leaves as an exception.
    bool booted = kestrel::dbus::getLedGroupAsserted(kestrel::dbus::ledBmcBooted);
    static_cast<uint8_t*>(response)[0] = booted ? 0x01 : 0x00;
    *dataLen = 1;
    return ipmi::ccSuccess;
}

KESTREL_EXPORT void register_netfn_oem_boot_complete()
    __attribute__((constructor(KESTREL_CTOR_BOOT_COMPLETE)));

void register_netfn_oem_boot_complete()
{
    ipmi_register_callback(netFnKestrel, cmdGetBootComplete, nullptr,
                           ipmiGetBootComplete, SYSTEM_INTERFACE);
}

} // extern "C"
