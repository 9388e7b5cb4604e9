// The one adapter between ipmid's legacy handler shape and a command core.
#pragma once

#include "answer.hpp"

#include <ipmid/api.h>

#include <cstring>
#include <utility>

namespace kestrel
{

/** Runs `core(request bytes, seams...)` and writes its answer the way a
 *  legacy handler must: the response bytes from offset 0 of ipmid's buffer,
 *  their count in *dataLen, the completion code as the result.  The seams
 *  are passed to the core as lvalues, so the board's implementations can be
 *  given as temporaries.  The count is cleared before the core runs, so an
 *  exception leaving it (a D-Bus failure) leaves no response bytes
 *  behind. */
template <typename Core, typename... Seams>
ipmi_ret_t answerLegacy(ipmi_request_t request, ipmi_response_t response,
                        ipmi_data_len_t dataLen, Core&& core, Seams&&... seams)
{
    Request in(static_cast<const uint8_t*>(request),
               request != nullptr ? *dataLen : 0);
    *dataLen = 0;
    Answer out = std::forward<Core>(core)(in, seams...);
    if (!out.data.empty())
    {
        std::memcpy(response, out.data.data(), out.data.size());
    }
    *dataLen = out.data.size();
    return out.cc;
}

} // namespace kestrel
