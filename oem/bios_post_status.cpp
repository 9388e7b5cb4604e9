// BIOS POST status: the BIOS reports its power-on self-test progress; the
// BMC keeps the last status and publishes the matching boot-progress stage
// of the host.
#include "dbus_ops.hpp"
#include "kestrel.hpp"

#include <ipmid/api.hpp>

#include <cstdint>
#include <string>

namespace
{

constexpr ipmi_netfn_t netFnKestrel = 0x3A;
constexpr ipmi_cmd_t cmdSetBiosPostStatus = 0xBD;
constexpr ipmi_cmd_t cmdGetBiosPostStatus = 0xBE;

constexpr uint8_t lastPostStatus = 0x04;

constexpr auto hostService = "xyz.openbmc_project.State.Host";
constexpr auto hostObject = "/xyz/openbmc_project/state/host0";
constexpr auto bootProgressInterface = "xyz.openbmc_project.State.Boot.Progress";

const char* bootProgressStage(uint8_t status)
{
    switch (status)
    {
        case 0x00:
        case 0x01:
            return "xyz.openbmc_project.State.Boot.Progress.ProgressStages."
                   "Unspecified";
        case 0x02:
        case 0x03:
            return "xyz.openbmc_project.State.Boot.Progress.ProgressStages."
                   "SystemInitComplete";
        default:
            return "xyz.openbmc_project.State.Boot.Progress.ProgressStages."
                   "OSStart";
    }
}

} // namespace

extern "C" {

/** The last POST status the BIOS reported; lost when ipmid restarts. */
KESTREL_EXPORT uint8_t BiosPostStatus = 0x00;

KESTREL_EXPORT ipmi_ret_t ipmiSetBiosPostStatus(ipmi_netfn_t, ipmi_cmd_t,
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
    uint8_t status = static_cast<const uint8_t*>(request)[0];
    if (status > lastPostStatus)
    {
        return ipmi::ccInvalidCommand;
    }
    // Kept even if publishing fails below: the BIOS did report it.
    BiosPostStatus = status;
    kestrel::dbus::setPropertyNoReply(hostService, hostObject,
                                      bootProgressInterface, "BootProgress",
                                      std::string(bootProgressStage(status)));
    return ipmi::ccSuccess;
}

KESTREL_EXPORT ipmi_ret_t ipmiGetBiosPostStatus(ipmi_netfn_t, ipmi_cmd_t,
                                                ipmi_request_t,
                                                ipmi_response_t response,
                                                ipmi_data_len_t dataLen,
                                                ipmi_context_t)
{
    static_cast<uint8_t*>(response)[0] = BiosPostStatus;
    *dataLen = 1;
    return ipmi::ccSuccess;
}

KESTREL_EXPORT void register_netfn_oem_bios_post_status()
    __attribute__((constructor(KESTREL_CTOR_BIOS_POST_STATUS)));

void register_netfn_oem_bios_post_status()
{
    ipmi_register_callback(netFnKestrel, cmdSetBiosPostStatus, nullptr,
                           ipmiSetBiosPostStatus, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, cmdGetBiosPostStatus, nullptr,
                           ipmiGetBiosPostStatus, SYSTEM_INTERFACE);
}

} // extern "C"
