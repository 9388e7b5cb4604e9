// Firmware versions: a table of 16-byte version records, one per firmware
// component, kept by the version store.  Writing record 0 (the BIOS) also
// publishes the BIOS version string on the active BIOS's software object;
// Set BIOS firmware info publishes it in the BIOS's own notation.
#include "fw_version.hpp"

#include "commands.hpp"
#include "dbus_blocking.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"

#include <ipmid/api.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "revstore.h"

namespace
{

namespace fw = kestrel::fw_version;

static_assert(sizeof(COMMON_VERSION_INFO) == fw::recordSize);

struct RevStore final : fw::VersionStore
{
    int load(uint8_t index, fw::VersionRecord& record) override
    {
        COMMON_VERSION_INFO info;
        std::memcpy(&info, record.data(), fw::recordSize);
        int result = GetRevRecord(index, &info);
        std::memcpy(record.data(), &info, fw::recordSize);
        return result;
    }
    int save(uint8_t index, const fw::VersionRecord& record) override
    {
        COMMON_VERSION_INFO info;
        std::memcpy(&info, record.data(), fw::recordSize);
        return SetRevRecord(index, &info);
    }
};

struct UpdaterBiosVersion final : fw::BiosVersion
{
    void publish(const std::string& version) override
    {
        using namespace kestrel::dbus;
        setPropertyNoReply(updaterService, biosActiveObject, versionInterface,
                           "Version", version);
    }
};

} // namespace

extern "C" {

/** The last record written through Set Firmware Version for each index since
 *  ipmid started; nothing reads it back (Get reads the store). */
KESTREL_EXPORT COMMON_VERSION_INFO FwVer[fw::lastRecordIndex + 1] = {};

KESTREL_EXPORT ipmi_ret_t ipmiSetRevRecord(ipmi_netfn_t, ipmi_cmd_t,
                                           ipmi_request_t request,
                                           ipmi_response_t response,
                                           ipmi_data_len_t dataLen,
                                           ipmi_context_t)
{
    static_assert(sizeof(FwVer) == fw::RecordTable::extent);
    return kestrel::answerLegacy(
        request, response, dataLen, fw::setRevRecord,
        fw::RecordTable(reinterpret_cast<uint8_t*>(FwVer), sizeof(FwVer)),
        RevStore{}, UpdaterBiosVersion{});
}

KESTREL_EXPORT ipmi_ret_t ipmiGetRevRecord(ipmi_netfn_t, ipmi_cmd_t,
                                           ipmi_request_t request,
                                           ipmi_response_t response,
                                           ipmi_data_len_t dataLen,
                                           ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen, fw::getRevRecord,
                                 RevStore{});
}

KESTREL_EXPORT ipmi_ret_t ipmiSetBiosFwInfo(ipmi_netfn_t, ipmi_cmd_t,
                                            ipmi_request_t request,
                                            ipmi_response_t response,
                                            ipmi_data_len_t dataLen,
                                            ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen, fw::setBiosFwInfo,
                                 UpdaterBiosVersion{});
}

KESTREL_EXPORT void register_netfn_oem_fw_version()
    __attribute__((constructor(KESTREL_CTOR_FW_VERSION)));

void register_netfn_oem_fw_version()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnKestrel, setRevRecord, nullptr,
                           ipmiSetRevRecord, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, getRevRecord, nullptr,
                           ipmiGetRevRecord, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, setBiosFwInfo, nullptr,
                           ipmiSetBiosFwInfo, SYSTEM_INTERFACE);
}

} // extern "C"
