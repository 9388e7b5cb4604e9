// NC-SI select: which sideband port the BMC's NC-SI Ethernet controller
// uses.  The selection lives in the sideband configuration store; a change
// takes effect once the MAC is detached from its driver and re-attached and
// the network daemon has restarted.
#include "kestrel.hpp"
#include "sidebandcfg.h"

#include <ipmid/api.hpp>

#include <cstdint>
#include <cstdlib>

namespace
{

constexpr ipmi_netfn_t netFnKestrel = 0x3A;
constexpr ipmi_cmd_t cmdSetNcsiSelect = 0x20;
constexpr ipmi_cmd_t cmdGetNcsiSelect = 0x21;

constexpr auto unbindMac = "echo -n 1e660000.ethernet > "
                           "/sys/bus/platform/drivers/ftgmac100/unbind";
constexpr auto bindMac = "echo -n 1e660000.ethernet > "
                         "/sys/bus/platform/drivers/ftgmac100/bind";
constexpr auto restartNetworkd = "systemctl restart systemd-networkd";

// Runs a command through the shell and waits for it.  Its status is of no
// use here: unbinding a MAC that is already unbound fails harmlessly, and
// the remaining steps must run whatever happened.
void runShell(const char* command)
{
    [[maybe_unused]] int status = std::system(command);
}

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiSetNcsiSelect(ipmi_netfn_t, ipmi_cmd_t,
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
    uint8_t port = static_cast<const uint8_t*>(request)[0];

    // The MAC is re-attached and the daemon restarted even when the store
    // fails, so that the network comes back on the old selection.
    runShell(unbindMac);
    int stored = SetSidebandPort(port);
    runShell(bindMac);
    runShell(restartNetworkd);
    return stored < 0 ? ipmi::ccUnspecifiedError : ipmi::ccSuccess;
}

KESTREL_EXPORT ipmi_ret_t ipmiGetNcsiSelect(ipmi_netfn_t, ipmi_cmd_t,
                                            ipmi_request_t,
                                            ipmi_response_t response,
                                            ipmi_data_len_t dataLen,
                                            ipmi_context_t)
{
    int port = GetSidebandPort();
    if (port < 0)
    {
        // An unreadable store has no port to report.
        *dataLen = 0;
        return ipmi::ccUnspecifiedError;
    }
    static_cast<uint8_t*>(response)[0] = static_cast<uint8_t>(port & 0xFF);
    *dataLen = 1;
    return ipmi::ccSuccess;
}

KESTREL_EXPORT void register_netfn_oem_ncsi_select()
    __attribute__((constructor(KESTREL_CTOR_NCSI_SELECT)));

void register_netfn_oem_ncsi_select()
{
    ipmi_register_callback(netFnKestrel, cmdSetNcsiSelect, nullptr,
                           ipmiSetNcsiSelect, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, cmdGetNcsiSelect, nullptr,
                           ipmiGetNcsiSelect, SYSTEM_INTERFACE);
}

} // extern "C"
