// The handlers behind the Misc command's subcommands, exported by name.
#pragma once

#include "kestrel.hpp"

#include <ipmid/api.hpp>

#include <cstdint>
#include <vector>

/** Reads the six hex digits of a jedec_id file into three bytes; 1 on
 *  success, 0 on failure (with a message on stderr). */
extern "C" KESTREL_EXPORT int read_jedec_id(const char* path, uint8_t* id);

/** The JEDEC ID of flash device 0 (no data) or of the device in data[0]. */
KESTREL_EXPORT ipmi::RspType<std::vector<uint8_t>>
    ipmiJedecId(ipmi::Context::ptr& ctx, std::vector<uint8_t> data);

/** (0x00, value) stores the Wake-on-LAN setting, (0x01) reads it. */
KESTREL_EXPORT ipmi::RspType<std::vector<uint8_t>>
    ipmiWakeOnLan(ipmi::Context::ptr& ctx, std::vector<uint8_t> data);
