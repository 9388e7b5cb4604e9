// Firmware versions: a table of 16-byte version records, one per firmware
// component, kept by the version store.  Writing record 0 (the BIOS) also
// publishes the BIOS version string on the active BIOS's software object;
// Set BIOS firmware info publishes it in the BIOS's own notation.
#include "dbus_ops.hpp"
#include "kestrel.hpp"
#include "revstore.h"

#include <ipmid/api.hpp>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace
{

constexpr ipmi_netfn_t netFnKestrel = 0x3A;
constexpr ipmi_cmd_t cmdSetFwVersion = 0x86;
constexpr ipmi_cmd_t cmdGetFwVersion = 0x87;
constexpr ipmi_cmd_t cmdSetBiosFwInfo = 0xB2;

constexpr uint8_t lastRecordIndex = 0x1C;
constexpr uint8_t biosRecordIndex = 0x00;
constexpr std::size_t recordSize = sizeof(COMMON_VERSION_INFO);
constexpr std::size_t biosFwInfoLength = 4;

constexpr auto updaterService = "xyz.openbmc_project.Software.BMC.Updater";
constexpr auto biosActiveObject = "/xyz/openbmc_project/software/bios_active";
constexpr auto versionInterface = "xyz.openbmc_project.Software.Version";

void publishBiosVersion(const char* version)
{
    kestrel::dbus::setPropertyNoReply(updaterService, biosActiveObject,
                                      versionInterface, "Version",
                                      std::string(version));
}

// "major.minor", then ".TAG" when either tag letter is set, then the build
// (after a dot when there is no tag).
std::string biosVersionString(const COMMON_VERSION_INFO& record)
{
    char text[32];
    bool tagged = record.letters[0] != 0x00 || record.letters[1] != 0x00;
    unsigned major = record.major;
    unsigned minor = record.minor;
    unsigned build = record.build;
    if (!tagged && build == 0)
    {
        std::snprintf(text, sizeof(text), "%u.%02u", major, minor);
    }
    else if (!tagged)
    {
        std::snprintf(text, sizeof(text), "%u.%02u.%02u", major, minor, build);
    }
    else if (build == 0)
    {
        std::snprintf(text, sizeof(text), "%u.%02u.%c%c", major, minor,
                      record.letters[0], record.letters[1]);
    }
    else
    {
        std::snprintf(text, sizeof(text), "%u.%02u.%c%c%02u", major, minor,
                      record.letters[0], record.letters[1], build);
    }
    return text;
}

} // namespace

extern "C" {

static_assert(recordSize == 16);

/** The last record written through Set Firmware Version for each index since
 *  ipmid started; nothing reads it back (Get reads the store). */
KESTREL_EXPORT COMMON_VERSION_INFO FwVer[lastRecordIndex + 1] = {};

KESTREL_EXPORT ipmi_ret_t ipmiSetRevRecord(ipmi_netfn_t, ipmi_cmd_t,
                                           ipmi_request_t request,
                                           ipmi_response_t response,
                                           ipmi_data_len_t dataLen,
                                           ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    if (length < 1 || length > 1 + recordSize)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    const auto* in = static_cast<const uint8_t*>(request);
    uint8_t index = in[0];
    if (index > lastRecordIndex)
    {
        return ipmi::ccInvalidCommand;
    }
    // A short record is stored zero-padded.
    COMMON_VERSION_INFO& entry = FwVer[index];
    std::memset(&entry, 0, recordSize);
    std::memcpy(&entry, in + 1, length - 1);
    if (index == biosRecordIndex)
    {
        // A failure here leaves the store as it was.
        publishBiosVersion(biosVersionString(entry).c_str());
    }
    SetRevRecord(index, &entry);
    static_cast<uint8_t*>(response)[0] = 0x00;
    *dataLen = 1;
    return ipmi::ccSuccess;
}

KESTREL_EXPORT ipmi_ret_t ipmiGetRevRecord(ipmi_netfn_t, ipmi_cmd_t,
                                           ipmi_request_t request,
                                           ipmi_response_t response,
                                           ipmi_data_len_t dataLen,
                                           ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    if (length < 1)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    uint8_t index = static_cast<const uint8_t*>(request)[0];
    if (index > lastRecordIndex)
    {
        return ipmi::ccInvalidCommand;
    }
    // A record never stored, or one the store cannot read, is all zeroes.
    auto* record = static_cast<COMMON_VERSION_INFO*>(response);
    std::memset(record, 0, recordSize);
    GetRevRecord(index, record);
    *dataLen = recordSize;
    return ipmi::ccSuccess;
}

KESTREL_EXPORT ipmi_ret_t ipmiSetBiosFwInfo(ipmi_netfn_t, ipmi_cmd_t,
                                            ipmi_request_t request,
                                            ipmi_response_t response,
                                            ipmi_data_len_t dataLen,
                                            ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    if (length < biosFwInfoLength)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    const auto* in = static_cast<const uint8_t*>(request);
    char version[10];
    std::snprintf(version, sizeof(version), "%c%u.%02x",
                  in[0] == 0x01 ? 'L' : 'P', unsigned{in[1]}, unsigned{in[2]});
    if (in[3] != 0x00 && in[3] != 0xFF)
    {
        std::size_t end = std::strlen(version);
        version[end] = static_cast<char>(in[3]);
        version[end + 1] = '\0';
    }
    publishBiosVersion(version);
    static_cast<uint8_t*>(response)[0] = 0x00;
    *dataLen = 1;
    return ipmi::ccSuccess;
}

KESTREL_EXPORT void register_netfn_oem_fw_version()
    __attribute__((constructor(KESTREL_CTOR_FW_VERSION)));

void register_netfn_oem_fw_version()
{
    ipmi_register_callback(netFnKestrel, cmdSetFwVersion, nullptr,
                           ipmiSetRevRecord, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, cmdGetFwVersion, nullptr,
                           ipmiGetRevRecord, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, cmdSetBiosFwInfo, nullptr,
                           ipmiSetBiosFwInfo, SYSTEM_INTERFACE);
}

} // extern "C"
