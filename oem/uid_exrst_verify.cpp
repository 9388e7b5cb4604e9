// UID / external-reset verify: saves and clears, reads, or restores the two
// reset-event registers of the system control unit.
#include "kestrel.hpp"
#include "regpeek.h"

#include <ipmid/api.hpp>

#include <cstdint>

namespace
{

constexpr ipmi_netfn_t netFnKestrel = 0x3A;
constexpr ipmi_cmd_t cmdUidExrstVerify = 0x69;

constexpr uint32_t registerA = 0x1E6E209C;
constexpr uint32_t registerB = 0x1E6E203C;
constexpr uint32_t reportedFlag = 1u << 1;

constexpr uint8_t saveAndClear = 0x00;
constexpr uint8_t readFlag = 0x01;
constexpr uint8_t restore = 0x02;

// A failed read counts as 0.
uint32_t readRegister(uint32_t address)
{
    uint32_t value = 0;
    mmap_read32(address, &value);
    return value;
}

// The registers as last saved; lives as long as ipmid.
uint32_t savedA = 0;
uint32_t savedB = 0;

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiUIDExrstVerify(ipmi_netfn_t, ipmi_cmd_t,
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
    switch (static_cast<const uint8_t*>(request)[0])
    {
        case saveAndClear:
        {
            uint32_t a = readRegister(registerA);
            uint32_t b = readRegister(registerB);
            if (a != 0)
            {
                savedA = a;
                savedB = b;
            }
            mmap_write32(registerA, 0);
            mmap_write32(registerB, 0);
            if (readRegister(registerA) != 0 || readRegister(registerB) != 0)
            {
                return ipmi::ccInvalidCommand;
            }
            return ipmi::ccSuccess;
        }
        case readFlag:
            static_cast<uint8_t*>(response)[0] =
                (readRegister(registerB) & reportedFlag) ? 0x01 : 0x00;
            *dataLen = 1;
            return ipmi::ccSuccess;
        case restore:
            if (savedA == 0 && savedB == 0)
            {
                return ipmi::ccInvalidFieldRequest;
            }
            mmap_write32(registerA, savedA);
            mmap_write32(registerB, savedB);
            return ipmi::ccSuccess;
        default:
            return ipmi::ccInvalidFieldRequest;
    }
}

KESTREL_EXPORT void register_netfn_oem_uid_exrst_verify()
    __attribute__((constructor(KESTREL_CTOR_UID_EXRST_VERIFY)));

void register_netfn_oem_uid_exrst_verify()
{
    ipmi_register_callback(netFnKestrel, cmdUidExrstVerify, nullptr,
                           ipmiUIDExrstVerify, SYSTEM_INTERFACE);
}

} // extern "C"
