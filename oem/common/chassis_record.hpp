// The chassis ID record of the board EEPROM: 31 ID bytes (zero-padded, no
// terminator for a 31-character ID) and a checksum byte that makes the 8-bit
// sum of the ID and the checksum zero.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace kestrel::chassis
{

constexpr uint32_t recordOffset = 0x3F60;
constexpr std::size_t recordSize = 32;
constexpr std::size_t maxIdLength = recordSize - 1;

using Record = std::array<uint8_t, recordSize>;

enum class RecordState
{
    unset,   // byte 0 is 0x00
    invalid, // checksum mismatch, erased EEPROM among them
    valid,
};

struct DecodedId
{
    RecordState state;
    std::string id; // the ID characters when valid, else empty
};

// Builds the record Set Chassis ID writes for a request of at most 32 bytes:
// empty or 0xFF-led requests erase the ID, anything else is copied, padded
// and checksummed (a 32nd byte gives way to the checksum).
Record encodeRecord(std::span<const uint8_t> request);

// Walks bytes 0 to 30 up to the first 0x00 and checks the checksum.
DecodedId decodeRecord(const Record& record);

} // namespace kestrel::chassis
