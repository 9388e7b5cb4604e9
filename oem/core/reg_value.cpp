#include "reg_value.hpp"

namespace kestrel::reg_value
{
namespace
{

constexpr std::size_t setRequestLength = 8;
constexpr std::size_t getRequestLength = 4;

} // namespace

uint32_t fromBigEndian(std::span<const uint8_t, 4> bytes)
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
           (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
}

std::array<uint8_t, 4> toBigEndian(uint32_t value)
{
    return {static_cast<uint8_t>(value >> 24),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
}

Answer setRegValue(Request in, Registers& registers, Log& log)
{
    if (in.size() < setRequestLength)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    uint32_t address = fromBigEndian(in.first<4>());
    uint32_t value = fromBigEndian(in.subspan<4, 4>());
    log.setRegValue(address, value);
    bool written = registers.write32(address, value) == 0;
    return {written ? ipmi::ccSuccess : ipmi::ccBusy, {}};
}

Answer getRegValue(Request in, Registers& registers, Log& log)
{
    if (in.size() < getRequestLength)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    uint32_t address = fromBigEndian(in.first<4>());
    uint32_t value = 0;
    int rc = registers.read32(address, &value);
    auto word = toBigEndian(value);
    log.getRegValue(address, value);
    return {rc == 0 ? ipmi::ccSuccess : ipmi::ccBusy,
            Bytes(word.begin(), word.end())};
}

} // namespace kestrel::reg_value
