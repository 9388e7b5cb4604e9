// NC-SI select: the sideband port through libsidebandcfg; a change detaches
// and re-attaches the MAC through its driver's sysfs files and restarts the
// network daemon, by shell commands.
#include "ncsi_select.hpp"

#include "board_seams.hpp"
#include "commands.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"

#include <ipmid/api.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>

#include "sidebandcfg.h"

namespace
{

constexpr kestrel::ncsi_select::MacCommands macCommands{
    .unbind = "echo -n 1e660000.ethernet > "
              "/sys/bus/platform/drivers/ftgmac100/unbind",
    .bind = "echo -n 1e660000.ethernet > "
            "/sys/bus/platform/drivers/ftgmac100/bind",
    .restartNetworkd = "systemctl restart systemd-networkd",
};

struct SidebandCfg final : kestrel::ncsi_select::SidebandStore
{
    int port() override
    {
        return GetSidebandPort();
    }
    int setPort(uint8_t port) override
    {
        return SetSidebandPort(port);
    }
};

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiSetNcsiSelect(ipmi_netfn_t, ipmi_cmd_t,
                                            ipmi_request_t request,
                                            ipmi_response_t response,
                                            ipmi_data_len_t dataLen,
                                            ipmi_context_t)
{
    return kestrel::answerLegacy(
        request, response, dataLen, kestrel::ncsi_select::setNcsiSelect,
        SidebandCfg{}, kestrel::SystemShell{}, macCommands);
}

KESTREL_EXPORT ipmi_ret_t ipmiGetNcsiSelect(ipmi_netfn_t, ipmi_cmd_t,
                                            ipmi_request_t request,
                                            ipmi_response_t response,
                                            ipmi_data_len_t dataLen,
                                            ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::ncsi_select::getNcsiSelect,
                                 SidebandCfg{});
}

KESTREL_EXPORT void register_netfn_oem_ncsi_select()
    __attribute__((constructor(KESTREL_CTOR_NCSI_SELECT)));

void register_netfn_oem_ncsi_select()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnKestrel, setNcsiSelect, nullptr,
                           ipmiSetNcsiSelect, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, getNcsiSelect, nullptr,
                           ipmiGetNcsiSelect, SYSTEM_INTERFACE);
}

} // extern "C"
