// Fan initial duty: the start-up duty table in the board EEPROM, through
// libromcell.
#include "fan_init_duty.hpp"

#include "board_seams.hpp"
#include "commands.hpp"
#include "kestrel.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <ipmid/api.hpp>
#include <vector>

namespace
{

using Table = std::array<uint8_t, kestrel::fan_init_duty::tableSize>;

} // namespace

KESTREL_EXPORT ipmi::RspType<> ipmiSetFanInitDuty(ipmi::Context::ptr&,
                                                  std::vector<uint8_t> duties)
{
    kestrel::BoardEeprom eeprom;
    auto answer = kestrel::fan_init_duty::setFanInitDuty(duties, eeprom);
    return ipmi::response(answer.cc);
}

KESTREL_EXPORT ipmi::RspType<Table> ipmiGetFanInitDuty(ipmi::Context::ptr&)
{
    kestrel::BoardEeprom eeprom;
    auto answer = kestrel::fan_init_duty::getFanInitDuty(eeprom);
    if (answer.cc != ipmi::ccSuccess)
    {
        return ipmi::response(answer.cc);
    }
    Table table{};
    std::copy_n(answer.data.begin(), table.size(), table.begin());
    return ipmi::responseSuccess(table);
}

extern "C" {

KESTREL_EXPORT void register_netfn_oem_fan_init_duty()
    __attribute__((constructor(KESTREL_CTOR_FAN_INIT_DUTY)));

void register_netfn_oem_fan_init_duty()
{
    using namespace kestrel::cmd;
    ipmi::registerHandler(ipmi::prioOpenBmcBase, netFnKestrel, setFanInitDuty,
                          ipmi::Privilege::Admin, ipmiSetFanInitDuty);
    ipmi::registerHandler(ipmi::prioOpenBmcBase, netFnKestrel, getFanInitDuty,
                          ipmi::Privilege::Admin, ipmiGetFanInitDuty);
}

} // extern "C"
