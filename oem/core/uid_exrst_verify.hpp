// UID / external-reset verify: saves and clears, reads, or restores the two
// reset-event registers of the system control unit.
#pragma once

#include "answer.hpp"
#include "reg_value.hpp"

#include <cstdint>

namespace kestrel::uid_exrst_verify
{

using reg_value::Registers;

inline constexpr uint32_t registerA = 0x1E6E209C;
inline constexpr uint32_t registerB = 0x1E6E203C;

/** The registers as last saved.  The board keeps one for as long as the
 *  daemon runs. */
struct Saved
{
    uint32_t a = 0;
    uint32_t b = 0;
};

/** Request: the subfunction.  0x00 saves both registers (only when A holds
 *  an event) and clears them, 0xC1 when they do not read back as zero; 0x01
 *  answers bit 1 of B; 0x02 writes the saved values back, 0xCC when nothing
 *  was saved; other values 0xCC.  A failed read counts as 0. */
Answer uidExrstVerify(Request in, Registers& registers, Saved& saved);

} // namespace kestrel::uid_exrst_verify
