// MAC addresses: the BMC's two factory MACs live in the board EEPROM, each in
// a 7-byte slot (6 address bytes, then a checksum that makes the 7 bytes sum
// to zero).  Set and Get act on the slots a selector byte picks; Get MAC info
// reports fixed facts (type, LAN channel) about the two MACs.
#include "mac_addr.hpp"

#include "board_seams.hpp"
#include "commands.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"

#include <ipmid/api.h>

#include <cstdint>

namespace mac = kestrel::mac_addr;

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
KESTREL_EXPORT uint16_t macoffset[mac::slotCount] = {0x3F80, 0x3F88};

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

} // extern "C"

namespace
{

// The facts come from the exported functions, which fill the response body
// the handler starts from.
struct ExportedMacFacts final : mac::MacFacts
{
    mac::SlotFacts types() override
    {
        return fill(updateMacType);
    }
    mac::SlotFacts channels() override
    {
        return fill(updateMacChannel);
    }

  private:
    static mac::SlotFacts fill(void (*update)(get_mac_info_res_t*))
    {
        get_mac_info_res_t info{mac::slotCount, 0x00, 0x00};
        update(&info);
        return {info.slot0, info.slot1};
    }
};

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiSetMacAddr(ipmi_netfn_t, ipmi_cmd_t,
                                         ipmi_request_t request,
                                         ipmi_response_t response,
                                         ipmi_data_len_t dataLen,
                                         ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen, mac::setMacAddr,
                                 kestrel::BoardEeprom{},
                                 mac::SlotOffsets(macoffset, mac::slotCount));
}

KESTREL_EXPORT ipmi_ret_t ipmiGetMacAddr(ipmi_netfn_t, ipmi_cmd_t,
                                         ipmi_request_t request,
                                         ipmi_response_t response,
                                         ipmi_data_len_t dataLen,
                                         ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen, mac::getMacAddr,
                                 kestrel::BoardEeprom{},
                                 mac::SlotOffsets(macoffset, mac::slotCount));
}

KESTREL_EXPORT ipmi_ret_t ipmiGetMacInfo(ipmi_netfn_t, ipmi_cmd_t,
                                         ipmi_request_t request,
                                         ipmi_response_t response,
                                         ipmi_data_len_t dataLen,
                                         ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen, mac::getMacInfo,
                                 ExportedMacFacts{});
}

KESTREL_EXPORT void register_netfn_oem_mac_addr()
    __attribute__((constructor(KESTREL_CTOR_MAC_ADDR)));

void register_netfn_oem_mac_addr()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnKestrel, setMacAddr, nullptr, ipmiSetMacAddr,
                           SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, getMacAddr, nullptr, ipmiGetMacAddr,
                           SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, getMacInfo, nullptr, ipmiGetMacInfo,
                           SYSTEM_INTERFACE);
}

} // extern "C"
