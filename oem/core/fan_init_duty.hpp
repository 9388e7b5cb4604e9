// Fan initial duty: a table of up to eight start-up duties, in percent, kept
// in the board EEPROM.  The library only stores and returns it; whatever
// applies the duties at start-up reads the EEPROM itself.
#pragma once

#include "answer.hpp"
#include "seams.hpp"

#include <cstdint>

namespace kestrel::fan_init_duty
{

// One byte per fan, fan 1 first, 32 bytes before the chassis ID record.
inline constexpr uint32_t tableOffset = 0x3F40;
inline constexpr std::size_t tableSize = 8;

bool validDuty(uint8_t duty);

/** Request: the initial duty of fans 1 to N (N 1..8), each 20..100, else
 *  0xCC and nothing written.  Only those N bytes of the table change; a
 *  failed write answers 0xFF. */
Answer setFanInitDuty(Request duties, Eeprom& eeprom);

/** Response: the eight stored duties; a byte outside 20..100 (an erased
 *  table reads 0xFF) is reported as 0.  A failed read answers 0xFF. */
Answer getFanInitDuty(Eeprom& eeprom);

} // namespace kestrel::fan_init_duty
