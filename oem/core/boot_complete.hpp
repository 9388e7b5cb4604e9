// Boot complete: whether the BMC has finished booting, as its "booted" LED
// group shows.
#pragma once

#include "answer.hpp"
#include "seams.hpp"

namespace kestrel::boot_complete
{

/** Response: 0x01 while the BMC-booted LED group is asserted, else 0x00.
 *  The request bytes are ignored; a failing bus read escapes. */
Answer getBootComplete(Request in, LedGroups& leds);

} // namespace kestrel::boot_complete
