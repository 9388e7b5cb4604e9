// BIOS POST status: the BIOS reports its power-on self-test progress; the
// BMC keeps the last status and publishes the matching boot-progress stage
// of the host.
#include "bios_post_status.hpp"

#include "commands.hpp"
#include "dbus_blocking.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"

#include <ipmid/api.h>

#include <cstdint>
#include <string>

namespace
{

struct HostBootProgress final : kestrel::bios_post_status::BootProgress
{
    void setStage(const std::string& stage) override
    {
        using namespace kestrel::dbus;
        setPropertyNoReply(hostService, hostObject, bootProgressInterface,
                           "BootProgress", stage);
    }
};

} // namespace

extern "C" {

/** The last POST status the BIOS reported; lost when ipmid restarts. */
KESTREL_EXPORT uint8_t BiosPostStatus = 0x00;

KESTREL_EXPORT ipmi_ret_t ipmiSetBiosPostStatus(ipmi_netfn_t, ipmi_cmd_t,
                                                ipmi_request_t request,
                                                ipmi_response_t response,
                                                ipmi_data_len_t dataLen,
                                                ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::bios_post_status::setBiosPostStatus,
                                 BiosPostStatus, HostBootProgress{});
}

KESTREL_EXPORT ipmi_ret_t ipmiGetBiosPostStatus(ipmi_netfn_t, ipmi_cmd_t,
                                                ipmi_request_t request,
                                                ipmi_response_t response,
                                                ipmi_data_len_t dataLen,
                                                ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::bios_post_status::getBiosPostStatus,
                                 BiosPostStatus);
}

KESTREL_EXPORT void register_netfn_oem_bios_post_status()
    __attribute__((constructor(KESTREL_CTOR_BIOS_POST_STATUS)));

void register_netfn_oem_bios_post_status()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnKestrel, setBiosPostStatus, nullptr,
                           ipmiSetBiosPostStatus, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, getBiosPostStatus, nullptr,
                           ipmiGetBiosPostStatus, SYSTEM_INTERFACE);
}

} // extern "C"
