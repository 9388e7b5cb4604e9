// Register access: read or write any 32-bit word of the service processor's
// physical address space.  Address and value travel most significant byte
// first.
#include "kestrel.hpp"
#include "regpeek.h"

#include <ipmid/api.hpp>

#include <cstdint>
#include <cstdio>

namespace
{

constexpr ipmi_netfn_t netFnKestrel = 0x3A;
constexpr ipmi_cmd_t cmdSetRegValue = 0xA2;
constexpr ipmi_cmd_t cmdGetRegValue = 0xA3;

constexpr std::size_t setRequestLength = 8;
constexpr std::size_t getRequestLength = 4;

uint32_t fromBigEndian(const uint8_t* bytes)
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
           (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
}

void toBigEndian(uint32_t value, uint8_t* bytes)
{
    bytes[0] = static_cast<uint8_t>(value >> 24);
    bytes[1] = static_cast<uint8_t>(value >> 16);
    bytes[2] = static_cast<uint8_t>(value >> 8);
    bytes[3] = static_cast<uint8_t>(value);
}

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiSetRegValue(ipmi_netfn_t, ipmi_cmd_t,
                                          ipmi_request_t request,
                                          ipmi_response_t,
                                          ipmi_data_len_t dataLen,
                                          ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    if (length < setRequestLength)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    const auto* in = static_cast<const uint8_t*>(request);
    uint32_t address = fromBigEndian(in);
    uint32_t value = fromBigEndian(in + 4);
    std::printf("ipmiSetRegValue reg=%x,value=%x\n", address, value);
    std::fflush(stdout);
    return mmap_write32(address, value) == 0 ? ipmi::ccSuccess : ipmi::ccBusy;
}

KESTREL_EXPORT ipmi_ret_t ipmiGetRegValue(ipmi_netfn_t, ipmi_cmd_t,
                                          ipmi_request_t request,
                                          ipmi_response_t response,
                                          ipmi_data_len_t dataLen,
                                          ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    if (length < getRequestLength)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    uint32_t address = fromBigEndian(static_cast<const uint8_t*>(request));
    uint32_t value = 0;
    int rc = mmap_read32(address, &value);
    toBigEndian(value, static_cast<uint8_t*>(response));
    std::printf("ipmiGetRegValue reg=%x,value=%x\n", address, value);
    std::fflush(stdout);
    // The four bytes go out even when the read failed (as zeroes).
    *dataLen = 4;
    return rc == 0 ? ipmi::ccSuccess : ipmi::ccBusy;
}

KESTREL_EXPORT void register_netfn_oem_reg_value()
    __attribute__((constructor(KESTREL_CTOR_REG_VALUE)));

void register_netfn_oem_reg_value()
{
    ipmi_register_callback(netFnKestrel, cmdSetRegValue, nullptr,
                           ipmiSetRegValue, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, cmdGetRegValue, nullptr,
                           ipmiGetRegValue, SYSTEM_INTERFACE);
}

} // extern "C"
