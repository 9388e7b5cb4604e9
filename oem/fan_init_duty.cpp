// Fan initial duty: a table of up to eight start-up duties, in percent, kept
// in the board EEPROM.  The library only stores and returns it; whatever
// applies the duties at start-up reads the EEPROM itself.
#include "kestrel.hpp"
#include "romcell.h"

#include <ipmid/api.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace
{

constexpr ipmi::NetFn netFnKestrel = 0x3A;
constexpr ipmi::Cmd cmdSetFanInitDuty = 0x0C;
constexpr ipmi::Cmd cmdGetFanInitDuty = 0x0D;

// One byte per fan, fan 1 first, 32 bytes before the chassis ID record.
constexpr uint32_t tableOffset = 0x3F40;
constexpr std::size_t tableSize = 8;
constexpr uint8_t minimumDuty = 20;
constexpr uint8_t maximumDuty = 100;

using Table = std::array<uint8_t, tableSize>;

bool validDuty(uint8_t duty)
{
    return duty >= minimumDuty && duty <= maximumDuty;
}

} // namespace

/** Request: the initial duty of fans 1 to N (N 1..8), each 20..100.  Only
 *  those N bytes of the table change. */
KESTREL_EXPORT ipmi::RspType<> ipmiSetFanInitDuty(ipmi::Context::ptr&,
                                                  std::vector<uint8_t> duties)
{
    if (duties.empty() || duties.size() > tableSize ||
        !std::all_of(duties.begin(), duties.end(), validDuty))
    {
        return ipmi::responseInvalidFieldRequest();
    }
    if (write_eeprom(duties.data(), tableOffset,
                     static_cast<uint16_t>(duties.size())) < 0)
    {
        return ipmi::responseUnspecifiedError();
    }
    return ipmi::responseSuccess();
}

/** Response: the eight stored duties; a byte outside 20..100 (an erased
 *  table reads 0xFF) is reported as 0. */
KESTREL_EXPORT ipmi::RspType<Table> ipmiGetFanInitDuty(ipmi::Context::ptr&)
{
    Table table{};
    if (read_eeprom(table.data(), tableOffset, table.size()) < 0)
    {
        return ipmi::responseUnspecifiedError();
    }
    for (uint8_t& duty : table)
    {
        duty = validDuty(duty) ? duty : 0;
    }
    return ipmi::responseSuccess(table);
}

extern "C" {

KESTREL_EXPORT void register_netfn_oem_fan_init_duty()
    __attribute__((constructor(KESTREL_CTOR_FAN_INIT_DUTY)));

void register_netfn_oem_fan_init_duty()
{
    ipmi::impl::registerHandler(
        KESTREL_TYPED_PRIORITY, netFnKestrel, cmdSetFanInitDuty,
        ipmi::Privilege::Admin,
        std::make_shared<ipmi::IpmiHandler<decltype(&ipmiSetFanInitDuty)>>(
            ipmiSetFanInitDuty));
    ipmi::impl::registerHandler(
        KESTREL_TYPED_PRIORITY, netFnKestrel, cmdGetFanInitDuty,
        ipmi::Privilege::Admin,
        std::make_shared<ipmi::IpmiHandler<decltype(&ipmiGetFanInitDuty)>>(
            ipmiGetFanInitDuty));
}

} // extern "C"
