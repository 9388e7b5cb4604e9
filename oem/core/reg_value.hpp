// Register access: read or write any 32-bit word of the service processor's
// physical address space.  Address and value travel most significant byte
// first.  The Registers seam is also what the speaker and the reset-event
// commands drive.
#pragma once

#include "answer.hpp"

#include <array>
#include <cstdint>
#include <span>

namespace kestrel::reg_value
{

/** Memory-mapped 32-bit registers at physical addresses, as libregpeek
 *  answers: 0 or a negative errno; on failure `*value` is not written. */
struct Registers
{
    virtual ~Registers() = default;
    virtual int read32(uint32_t address, uint32_t* value) = 0;
    virtual int write32(uint32_t address, uint32_t value) = 0;
};

/** The line each command prints on standard output. */
struct Log
{
    virtual ~Log() = default;
    virtual void setRegValue(uint32_t address, uint32_t value) = 0;
    virtual void getRegValue(uint32_t address, uint32_t value) = 0;
};

uint32_t fromBigEndian(std::span<const uint8_t, 4> bytes);
std::array<uint8_t, 4> toBigEndian(uint32_t value);

/** Request: address, value (8 bytes, more are ignored).  The line is
 *  printed before the write; a failed write answers 0xC0 (node busy). */
Answer setRegValue(Request in, Registers& registers, Log& log);

/** Request: address (4 bytes, more are ignored).  Response: the word; the
 *  four bytes go out even when the read failed (0xC0), as zeroes. */
Answer getRegValue(Request in, Registers& registers, Log& log);

} // namespace kestrel::reg_value
