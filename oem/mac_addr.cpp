// MAC addresses: the BMC's two factory MACs live in the board EEPROM, each in
// a 7-byte slot (6 address bytes, then a checksum that makes the 7 bytes sum
// to zero).  Set and Get act on the slots a selector byte picks; Get MAC info
// reports fixed facts (type, LAN channel) about the two MACs.
#include "kestrel.hpp"
#include "romcell.h"

#include <ipmid/api.hpp>

#include <array>
#include <cstdint>
#include <cstring>

namespace
{

constexpr ipmi_netfn_t netFnKestrel = 0x3A;
constexpr ipmi_cmd_t cmdSetMacAddr = 0xA0;
constexpr ipmi_cmd_t cmdGetMacAddr = 0xA1;
constexpr ipmi_cmd_t cmdGetMacInfo = 0xE2;

constexpr std::size_t slotCount = 2;
constexpr std::size_t macLength = 6;
constexpr std::size_t slotLength = macLength + 1; // address, then checksum

constexpr uint8_t macInfoType = 0x00;
constexpr uint8_t macInfoChannel = 0x01;

// Selector 0x00, 0x01, 0x02 name slot 0, slot 1 and both; 0x80 and above
// carry the slot mask in their two low bits; anything else selects nothing.
unsigned slotMask(uint8_t selector)
{
    switch (selector)
    {
        case 0x00:
            return 0b01;
        case 0x01:
            return 0b10;
        case 0x02:
            return 0b11;
        default:
            return (selector & 0x80) != 0 ? (selector & 0b11) : 0;
    }
}

bool selects(unsigned mask, std::size_t slot)
{
    return (mask & (1u << slot)) != 0;
}

std::size_t selectedSlots(unsigned mask)
{
    return (selects(mask, 0) ? 1 : 0) + (selects(mask, 1) ? 1 : 0);
}

} // namespace

extern "C" {

/** The Get MAC info response body. */
struct get_mac_info_res_t
{
    uint8_t count; // number of MACs, always 2
    uint8_t slot0;
    uint8_t slot1;
};
static_assert(sizeof(get_mac_info_res_t) == 3);

/** EEPROM offsets of MAC slot 0 and slot 1. */
KESTREL_EXPORT uint16_t macoffset[slotCount] = {0x3F80, 0x3F88};

/** The type of each MAC: 0x00 for slot 0, 0x01 for slot 1. */
KESTREL_EXPORT void updateMacType(get_mac_info_res_t* info)
{
    info->slot0 = 0x00;
    info->slot1 = 0x01;
}

/** The IPMI LAN channel of each MAC. */
KESTREL_EXPORT void updateMacChannel(get_mac_info_res_t* info)
{
    info->slot0 = 0x01;
    info->slot1 = 0x02;
}

KESTREL_EXPORT ipmi_ret_t ipmiSetMacAddr(ipmi_netfn_t, ipmi_cmd_t,
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
    const auto* in = static_cast<const uint8_t*>(request);
    unsigned mask = slotMask(in[0]);
    // Every selected slot needs its six bytes; a short request writes none.
    if (length < 1 + macLength * selectedSlots(mask))
    {
        return ipmi::ccReqDataLenInvalid;
    }
    const uint8_t* next = in + 1;
    for (std::size_t slot = 0; slot < slotCount; ++slot)
    {
        if (!selects(mask, slot))
        {
            continue;
        }
        std::array<uint8_t, slotLength> entry{};
        uint8_t sum = 0;
        for (std::size_t i = 0; i < macLength; ++i)
        {
            entry[i] = next[i];
            sum = static_cast<uint8_t>(sum + next[i]);
        }
        entry[macLength] = static_cast<uint8_t>(-sum);
        next += macLength;
        // Stop at the first failure: a later slot is left as it was.
        if (write_eeprom(entry.data(), macoffset[slot], slotLength) < 0)
        {
            return ipmi::ccInvalidCommand;
        }
    }
    return ipmi::ccSuccess;
}

KESTREL_EXPORT ipmi_ret_t ipmiGetMacAddr(ipmi_netfn_t, ipmi_cmd_t,
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
    unsigned mask = slotMask(static_cast<const uint8_t*>(request)[0]);
    auto* out = static_cast<uint8_t*>(response);
    std::size_t written = 0;
    for (std::size_t slot = 0; slot < slotCount; ++slot)
    {
        if (!selects(mask, slot))
        {
            continue;
        }
        std::array<uint8_t, slotLength> entry{};
        // A slot that cannot be read answers zeros; the checksum is not
        // checked, as a blank or foreign slot is still worth showing.
        if (read_eeprom(entry.data(), macoffset[slot], slotLength) < 0)
        {
            entry.fill(0x00);
        }
        std::memcpy(out + written, entry.data(), macLength);
        written += macLength;
    }
    *dataLen = written;
    return ipmi::ccSuccess;
}

KESTREL_EXPORT ipmi_ret_t ipmiGetMacInfo(ipmi_netfn_t, ipmi_cmd_t,
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
    get_mac_info_res_t info{slotCount, 0x00, 0x00};
    switch (static_cast<const uint8_t*>(request)[0])
    {
        case macInfoType:
            updateMacType(&info);
            break;
        case macInfoChannel:
            updateMacChannel(&info);
            break;
        default:
            return ipmi::ccInvalidCommand;
    }
    std::memcpy(response, &info, sizeof(info));
    *dataLen = sizeof(info);
    return ipmi::ccSuccess;
}

KESTREL_EXPORT void register_netfn_oem_mac_addr()
    __attribute__((constructor(KESTREL_CTOR_MAC_ADDR)));

void register_netfn_oem_mac_addr()
{
    ipmi_register_callback(netFnKestrel, cmdSetMacAddr, nullptr,
                           ipmiSetMacAddr, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, cmdGetMacAddr, nullptr,
                           ipmiGetMacAddr, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, cmdGetMacInfo, nullptr,
                           ipmiGetMacInfo, SYSTEM_INTERFACE);
}

} // extern "C"
