#include "fan_init_duty.hpp"

#include <algorithm>

namespace kestrel::fan_init_duty
{
namespace
{

constexpr uint8_t minimumDuty = 20;
constexpr uint8_t maximumDuty = 100;

} // namespace

bool validDuty(uint8_t duty)
{
    return duty >= minimumDuty && duty <= maximumDuty;
}

Answer setFanInitDuty(Request duties, Eeprom& eeprom)
{
    if (duties.empty() || duties.size() > tableSize ||
        !std::all_of(duties.begin(), duties.end(), validDuty))
    {
        return failure(ipmi::ccInvalidFieldRequest);
    }
    if (eeprom.write(duties.data(), tableOffset,
                     static_cast<uint32_t>(duties.size())) < 0)
    {
        return failure(ipmi::ccUnspecifiedError);
    }
    return success();
}

Answer getFanInitDuty(Eeprom& eeprom)
{
    Bytes table(tableSize, 0x00);
    if (eeprom.read(table.data(), tableOffset, tableSize) < 0)
    {
        return failure(ipmi::ccUnspecifiedError);
    }
    for (uint8_t& duty : table)
    {
        duty = validDuty(duty) ? duty : 0;
    }
    return success(std::move(table));
}

} // namespace kestrel::fan_init_duty
