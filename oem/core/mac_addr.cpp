#include "mac_addr.hpp"

#include <algorithm>

namespace kestrel::mac_addr
{
namespace
{

constexpr uint8_t macInfoType = 0x00;
constexpr uint8_t macInfoChannel = 0x01;

bool selects(unsigned mask, std::size_t slot)
{
    return (mask & (1u << slot)) != 0;
}

std::size_t selectedSlots(unsigned mask)
{
    return (selects(mask, 0) ? 1 : 0) + (selects(mask, 1) ? 1 : 0);
}

} // namespace

unsigned slotMask(uint8_t selector)
{
    switch (selector)
    {
        case 0x00:
            return 0b01;
        case 0x01:
            return 0b10;
        case 0x02:
            return 0b11;
        default:
            return (selector & 0x80) != 0 ? (selector & 0b11) : 0;
    }
}

SlotEntry slotEntry(std::span<const uint8_t, macLength> mac)
{
    SlotEntry entry{};
    uint8_t sum = 0;
    for (std::size_t i = 0; i < macLength; ++i)
    {
        entry[i] = mac[i];
        sum = static_cast<uint8_t>(sum + mac[i]);
    }
    entry[macLength] = static_cast<uint8_t>(-sum);
    return entry;
}

Answer setMacAddr(Request in, Eeprom& eeprom, SlotOffsets offsets)
{
    if (in.size() < 1)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    unsigned mask = slotMask(in[0]);
    // Every selected slot needs its six bytes; a short request writes none.
    if (in.size() < 1 + macLength * selectedSlots(mask))
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    Request next = in.subspan(1);
    for (std::size_t slot = 0; slot < slotCount; ++slot)
    {
        if (!selects(mask, slot))
        {
            continue;
        }
        SlotEntry entry = slotEntry(next.first<macLength>());
        next = next.subspan(macLength);
        // Stop at the first failure: a later slot is left as it was.
        if (eeprom.write(entry.data(), offsets[slot], slotLength) < 0)
        {
            return failure(ipmi::ccInvalidCommand);
        }
    }
    return success();
}

Answer getMacAddr(Request in, Eeprom& eeprom, SlotOffsets offsets)
{
    if (in.size() < 1)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    unsigned mask = slotMask(in[0]);
    Bytes out;
    for (std::size_t slot = 0; slot < slotCount; ++slot)
    {
        if (!selects(mask, slot))
        {
            continue;
        }
        SlotEntry entry{};
        // A slot that cannot be read answers zeros; the checksum is not
        // checked, as a blank or foreign slot is still worth showing.
        if (eeprom.read(entry.data(), offsets[slot], slotLength) < 0)
        {
            entry.fill(0x00);
        }
        out.insert(out.end(), entry.begin(), entry.begin() + macLength);
    }
    return success(std::move(out));
}

Answer getMacInfo(Request in, MacFacts& facts)
{
    if (in.size() < 1)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    SlotFacts slots{};
    switch (in[0])
    {
        case macInfoType:
            slots = facts.types();
            break;
        case macInfoChannel:
            slots = facts.channels();
            break;
        default:
            return failure(ipmi::ccInvalidCommand);
    }
    return success({static_cast<uint8_t>(slotCount), slots[0], slots[1]});
}

} // namespace kestrel::mac_addr
