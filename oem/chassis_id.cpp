// Chassis ID: Set writes the checksummed record to the board EEPROM, Get
// reads it back and answers the ID or 31 bytes of 0xFF.
#include "chassis_record.hpp"
#include "kestrel.hpp"
#include "romcell.h"

#include <ipmid/api.hpp>

#include <algorithm>
#include <cstring>

using kestrel::chassis::decodeRecord;
using kestrel::chassis::encodeRecord;
using kestrel::chassis::Record;
using kestrel::chassis::RecordState;
namespace chassis = kestrel::chassis;

namespace
{
constexpr ipmi_netfn_t netFnKestrel = 0x3A;
constexpr ipmi_cmd_t cmdSetChassisId = 0xAA;
constexpr ipmi_cmd_t cmdGetChassisId = 0xAB;
} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiSetChassisId(ipmi_netfn_t, ipmi_cmd_t,
                                           ipmi_request_t request,
                                           ipmi_response_t,
                                           ipmi_data_len_t dataLen,
                                           ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    if (length > chassis::recordSize)
    {
        // More than the record holds: refuse rather than truncate.
        return ipmi::ccReqDataLenInvalid;
    }
    Record record =
        encodeRecord({static_cast<const uint8_t*>(request), length});
    if (write_eeprom(record.data(), chassis::recordOffset, record.size()) < 0)
    {
        return ipmi::ccInvalidCommand;
    }
    return ipmi::ccSuccess;
}

KESTREL_EXPORT ipmi_ret_t ipmiGetChassisId(ipmi_netfn_t, ipmi_cmd_t,
                                           ipmi_request_t,
                                           ipmi_response_t response,
                                           ipmi_data_len_t dataLen,
                                           ipmi_context_t)
{
    Record record{};
    // A failed read leaves the zeroed buffer, which reads as unset.
    read_eeprom(record.data(), chassis::recordOffset, record.size());
    auto decoded = decodeRecord(record);
    auto* out = static_cast<uint8_t*>(response);
    if (decoded.state != RecordState::valid)
    {
        std::memset(out, 0xFF, chassis::maxIdLength);
        *dataLen = chassis::maxIdLength;
        return ipmi::ccSuccess;
    }
    std::memcpy(out, decoded.id.data(), decoded.id.size());
    std::size_t length = decoded.id.size();
    if (length < chassis::maxIdLength)
    {
        out[length++] = 0x00; // the terminator travels with a short ID
    }
    *dataLen = length;
    return ipmi::ccSuccess;
}

KESTREL_EXPORT void register_netfn_oem_chassis_id()
    __attribute__((constructor(KESTREL_CTOR_CHASSIS_ID)));

void register_netfn_oem_chassis_id()
{
    ipmi_register_callback(netFnKestrel, cmdSetChassisId, nullptr,
                           ipmiSetChassisId, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, cmdGetChassisId, nullptr,
                           ipmiGetChassisId, SYSTEM_INTERFACE);
}

} // extern "C"
