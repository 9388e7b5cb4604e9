// MAC addresses: the BMC's two factory MACs live in the board EEPROM, each in
// a 7-byte slot (6 address bytes, then a checksum that makes the 7 bytes sum
// to zero).  Set and Get act on the slots a selector byte picks; Get MAC info
// reports fixed facts (type, LAN channel) about the two MACs.
#pragma once

#include "answer.hpp"
#include "seams.hpp"

#include <array>
#include <cstdint>
#include <span>

namespace kestrel::mac_addr
{

inline constexpr std::size_t slotCount = 2;
inline constexpr std::size_t macLength = 6;
inline constexpr std::size_t slotLength = macLength + 1;

/** EEPROM offsets of slot 0 and slot 1. */
using SlotOffsets = std::span<const uint16_t, slotCount>;
using SlotEntry = std::array<uint8_t, slotLength>;
using SlotFacts = std::array<uint8_t, slotCount>;

/** The facts Get MAC info reports, one byte per slot.  The board's
 *  implementation asks the library's exported updateMacType and
 *  updateMacChannel. */
struct MacFacts
{
    virtual ~MacFacts() = default;
    virtual SlotFacts types() = 0;
    virtual SlotFacts channels() = 0;
};

/** The slots a selector picks, bit N for slot N: 0x00, 0x01 and 0x02 name
 *  slot 0, slot 1 and both; 0x80 and above carry the mask in their two low
 *  bits; anything else picks none. */
unsigned slotMask(uint8_t selector);

/** The 7 bytes a slot holds for `mac`: the address, then its checksum. */
SlotEntry slotEntry(std::span<const uint8_t, macLength> mac);

/** Request: selector, then six address bytes for each selected slot, in
 *  slot order (trailing bytes ignored).  A short request writes nothing;
 *  the first failing write answers 0xC1 and leaves later slots alone. */
Answer setMacAddr(Request in, Eeprom& eeprom, SlotOffsets offsets);

/** Request: selector.  Response: six address bytes per selected slot, in
 *  slot order; a slot that cannot be read answers zeros (the checksum is
 *  not checked). */
Answer getMacAddr(Request in, Eeprom& eeprom, SlotOffsets offsets);

/** Request: 0x00 for the types, 0x01 for the LAN channels.  Response: the
 *  number of MACs (2), then one byte per slot. */
Answer getMacInfo(Request in, MacFacts& facts);

} // namespace kestrel::mac_addr
