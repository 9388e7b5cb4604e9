#include "chassis_record.hpp"

#include <algorithm>
#include <numeric>

namespace kestrel::chassis
{
namespace
{

uint8_t twosComplement(uint8_t sum)
{
    return static_cast<uint8_t>(0x100 - sum);
}

} // namespace

Record encodeRecord(std::span<const uint8_t> request)
{
    Record record;
    record.fill(0xFF);
    if (request.empty())
    {
        return record;
    }
    auto head = request.first(std::min(request.size(), maxIdLength));
    bool anySet = std::any_of(head.begin(), head.end(),
                              [](uint8_t b) { return b != 0xFF; });
    if (anySet)
    {
        record.fill(0x00);
        std::copy_n(request.begin(), std::min(request.size(), recordSize),
                    record.begin());
        uint8_t sum = std::accumulate(
            record.begin(), record.begin() + maxIdLength, uint8_t{0},
            [](uint8_t a, uint8_t b) { return static_cast<uint8_t>(a + b); });
        record[maxIdLength] = twosComplement(sum);
    }
    if (request[0] == 0xFF)
    {
        std::fill_n(record.begin(), maxIdLength, 0xFF);
    }
    return record;
}

DecodedId decodeRecord(const Record& record)
{
    if (record[0] == 0x00)
    {
        return {RecordState::unset, {}};
    }
    uint8_t sum = 0;
    std::size_t n = 0;
    while (n < maxIdLength && record[n] != 0x00)
    {
        sum = static_cast<uint8_t>(sum + record[n]);
        ++n;
    }
    if (static_cast<uint8_t>(sum + record[maxIdLength]) != 0)
    {
        return {RecordState::invalid, {}};
    }
    return {RecordState::valid,
            std::string(record.begin(), record.begin() + static_cast<long>(n))};
}

} // namespace kestrel::chassis
