// Firmware versions: a table of 16-byte version records, one per firmware
// component, kept by the version store.  Writing record 0 (the BIOS) also
// publishes the BIOS version string on the active BIOS's software object;
// Set BIOS firmware info publishes it in the BIOS's own notation.
#pragma once

#include "answer.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace kestrel::fw_version
{

inline constexpr std::size_t recordSize = 16;
inline constexpr uint8_t lastRecordIndex = 0x1C;
inline constexpr std::size_t recordCount = lastRecordIndex + 1;
inline constexpr uint8_t biosRecordIndex = 0x00;

/** Bytes 0 to 4: major, minor, two tag letters (0x00 when absent), build
 *  (0 when absent); the rest is carried as is. */
using VersionRecord = std::array<uint8_t, recordSize>;

/** The last record written for each index since ipmid started, index by
 *  index: the library's exported table, seen as bytes. */
using RecordTable = std::span<uint8_t, recordCount * recordSize>;

/** The version store, by index; 0 or a negative errno, as the store
 *  answers. */
struct VersionStore
{
    virtual ~VersionStore() = default;
    /** Fills `record`, which comes zeroed, with what the store holds. */
    virtual int load(uint8_t index, VersionRecord& record) = 0;
    virtual int save(uint8_t index, const VersionRecord& record) = 0;
};

/** The Version property of the active BIOS's software object.  The
 *  board's implementation makes a blocking D-Bus call and lets its failure
 *  escape as an exception. */
struct BiosVersion
{
    virtual ~BiosVersion() = default;
    virtual void publish(const std::string& version) = 0;
};

/** "major.minor" (minor in two digits), then ".TAG" when either tag letter
 *  is set, then the build in two digits (after a dot when there is no
 *  tag), all numbers in decimal.  The text ends at a 0x00 letter, as a C
 *  string does. */
std::string biosVersionString(const VersionRecord& record);

/** The BIOS's own notation: 'L' for kind 0x01, else 'P', the major in
 *  decimal, '.', the minor in two hex digits, then the suffix character
 *  unless it is 0x00 or 0xFF. */
std::string biosFwInfoString(uint8_t kind, uint8_t major, uint8_t minor,
                             uint8_t suffix);

/** Request: index, then up to 16 record bytes (stored zero-padded).
 *  Response: 0x00.  The record goes into `table` first, then (index 0) the
 *  BIOS version is published, then the record is saved; a failing publish
 *  escapes and leaves the store as it was.  The store's result is not
 *  checked. */
Answer setRevRecord(Request in, RecordTable table, VersionStore& store,
                    BiosVersion& bios);

/** Request: index.  Response: the stored record, all zeroes for one never
 *  stored or one the store cannot read. */
Answer getRevRecord(Request in, VersionStore& store);

/** Request: kind, major, minor, suffix (trailing bytes ignored).
 *  Response: 0x00 once the notation is published. */
Answer setBiosFwInfo(Request in, BiosVersion& bios);

} // namespace kestrel::fw_version
