#include "bios_post_status.hpp"

namespace kestrel::bios_post_status
{

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

Answer setBiosPostStatus(Request in, uint8_t& lastStatus,
                         BootProgress& progress)
{
    if (in.size() < 1)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    uint8_t status = in[0];
    if (status > lastPostStatus)
    {
        return failure(ipmi::ccInvalidCommand);
    }
    // Kept even if publishing fails below: the BIOS did report it.
    lastStatus = status;
    progress.setStage(bootProgressStage(status));
    return success();
}

Answer getBiosPostStatus(Request, uint8_t lastStatus)
{
    return success({lastStatus});
}

} // namespace kestrel::bios_post_status
