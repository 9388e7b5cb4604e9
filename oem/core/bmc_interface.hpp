// BMC interface: a fixed report of the BMC's interfaces, one byte per bit of
// the mask in the request.
#pragma once

#include "answer.hpp"

namespace kestrel::bmc_interface
{

/** Request: 0x01, 0x00, then a mask of at most 0x07 (trailing bytes are
 *  ignored).  Response: three bytes, 0x07 (available) for each set bit of
 *  the mask, from bit 0, and 0x00 for each clear one. */
Answer getBmcInterface(Request in);

} // namespace kestrel::bmc_interface
