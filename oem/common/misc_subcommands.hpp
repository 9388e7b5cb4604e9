// The handlers behind the Misc command's subcommands, exported by name.
#pragma once

#include "answer.hpp"
#include "kestrel.hpp"

#include <cstdint>
#include <ipmid/api.hpp>
#include <utility>
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

namespace kestrel::misc
{

/** A core's answer in the subcommand handlers' typed shape: the bytes on
 *  success, no payload with any other completion code. */
inline ipmi::RspType<std::vector<uint8_t>> typedAnswer(Answer answer)
{
    if (answer.cc != ipmi::ccSuccess)
    {
        return ipmi::response(answer.cc);
    }
    return ipmi::responseSuccess(std::move(answer.data));
}

/** The reverse, for the dispatcher that hands a subcommand on. */
inline Answer answerOf(ipmi::RspType<std::vector<uint8_t>> rsp)
{
    auto& payload = std::get<1>(rsp);
    return {std::get<0>(rsp),
            payload ? std::move(std::get<0>(*payload)) : Bytes{}};
}

} // namespace kestrel::misc
