// What a command's core returns: the completion code and the response bytes
// that follow it.  Cores decode their request from a span of its bytes, so
// they can be run on any buffer, and know nothing of ipmid's calling shapes.
#pragma once

#include <cstdint>
#include <ipmid/api-types.hpp>
#include <ostream>
#include <span>
#include <vector>

namespace kestrel
{

using Request = std::span<const uint8_t>;
using Bytes = std::vector<uint8_t>;

struct Answer
{
    uint8_t cc = ipmi::ccSuccess;
    Bytes data;

    bool operator==(const Answer&) const = default;
};

inline Answer success(Bytes data = {})
{
    return {ipmi::ccSuccess, std::move(data)};
}

inline Answer failure(uint8_t cc)
{
    return {cc, {}};
}

/** Lets test frameworks print an answer as "cc: data bytes". */
inline std::ostream& operator<<(std::ostream& os, const Answer& answer)
{
    auto flags = os.flags();
    os << std::hex << "cc 0x" << unsigned{answer.cc} << ":";
    for (uint8_t byte : answer.data)
    {
        os << " " << unsigned{byte};
    }
    os.flags(flags);
    return os;
}

} // namespace kestrel
