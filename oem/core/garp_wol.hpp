// GARP and Wake-on-LAN: two on/off network settings kept in the key/value
// store.  Nothing on the BMC acts on them; the host reads them back.
#pragma once

#include "answer.hpp"

namespace kestrel::garp_wol
{

/** Integer settings by section and key, as libkeyshelf keeps them. */
struct Settings
{
    virtual ~Settings() = default;
    /** The stored value, or `fallback` when none is stored. */
    virtual long get(const char* section, const char* key, long fallback) = 0;
    /** 0 or a negative errno. */
    virtual int set(const char* section, const char* key, long value) = 0;
};

/** Request: an unused byte, the operation (0x00 set, 0x01 get), for a set
 *  the value, stored as given.  A set answers nothing, a get the stored
 *  value (0x00 when none); a store failure is not seen. */
Answer garp(Request in, Settings& settings);

/** Request: exactly (0x00, value) to store the Wake-on-LAN setting or
 *  (0x01) to read it; anything else answers 0xCC. */
Answer wakeOnLan(Request in, Settings& settings);

} // namespace kestrel::garp_wol
