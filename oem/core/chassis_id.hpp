// Chassis ID: Set writes the checksummed record to the board EEPROM, Get
// reads it back and answers the ID or 31 bytes of 0xFF.  The record itself
// is chassis_record.hpp's, shared with boardpilot.
#pragma once

#include "answer.hpp"
#include "seams.hpp"

namespace kestrel::chassis_id
{

/** Request: up to 32 bytes, encoded as chassis::encodeRecord says (an
 *  empty request erases the ID).  More is refused with nothing written; a
 *  failed EEPROM write answers 0xC1. */
Answer setChassisId(Request in, Eeprom& eeprom);

/** Response: the ID, followed by a 0x00 terminator when shorter than 31
 *  bytes; 31 bytes of 0xFF when the record is unset or its checksum fails.
 *  The request bytes are ignored. */
Answer getChassisId(Request in, Eeprom& eeprom);

} // namespace kestrel::chassis_id
