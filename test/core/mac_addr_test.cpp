// Set and Get MAC address and Get MAC info against a fake board EEPROM.
#include "fakes.hpp"
#include "mac_addr.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using mac_addr::getMacAddr;
using mac_addr::getMacInfo;
using mac_addr::setMacAddr;
using mac_addr::slotMask;
using testing::ElementsAre;
using testing::IsEmpty;

// Not the board's offsets, so a core that ignores its parameter fails.
const uint16_t offsets[2] = {0x1000, 0x2000};

const Bytes macA{0x02, 0x11, 0x22, 0x33, 0x44, 0x56};
const Bytes macB{0x0A, 0xBB, 0xCC, 0xDD, 0xEE, 0x10};

Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A failed read scribbles on the buffer, so passing it on is caught.
struct ScribblingEeprom : FakeEeprom
{
    int read(uint8_t* buffer, uint32_t offset, uint32_t length) override
    {
        if (failReadAt == offset)
        {
            std::memset(buffer, 0xAA, length);
            return -EIO;
        }
        return FakeEeprom::read(buffer, offset, length);
    }
};

struct FakeMacFacts : mac_addr::MacFacts
{
    mac_addr::SlotFacts types() override
    {
        return {0x10, 0x11};
    }
    mac_addr::SlotFacts channels() override
    {
        return {0x20, 0x21};
    }
};

TEST(MacAddr, SlotMask)
{
    const std::pair<uint8_t, unsigned> cases[] = {
        {0x00, 0b01}, {0x01, 0b10}, {0x02, 0b11}, {0x03, 0b00},
        {0x7F, 0b00}, {0x80, 0b00}, {0x81, 0b01}, {0x82, 0b10},
        {0x83, 0b11}, {0xFC, 0b00}, {0xFF, 0b11},
    };
    for (auto [selector, mask] : cases)
    {
        EXPECT_EQ(slotMask(selector), mask) << int{selector};
    }
}

TEST(MacAddr, SlotEntryChecksumMakesTheSumZero)
{
    const std::pair<Bytes, uint8_t> cases[] = {
        {Bytes(6, 0x00), 0x00},
        {{0x01, 0, 0, 0, 0, 0}, 0xFF},
        {{0x00, 0x80, 0x00, 0x00, 0x00, 0x81}, 0xFF}, // the sum wraps to 1
        {Bytes(6, 0xFF), 0x06},
    };
    for (const auto& [mac, checksum] : cases)
    {
        auto entry = mac_addr::slotEntry(std::span<const uint8_t, 6>(mac));
        EXPECT_EQ(Bytes(entry.begin(), entry.end()), cat(mac, {checksum}));
    }
}

TEST(MacAddr, SetWritesTheSelectedSlotsInOrder)
{
    const std::pair<Bytes, std::vector<uint32_t>> cases[] = {
        {cat({0x00}, macA), {0x1000}},
        {cat({0x01}, macA), {0x2000}},
        {cat(cat({0x02}, macA), macB), {0x1000, 0x2000}},
        {cat(cat({0x83}, macA), macB), {0x1000, 0x2000}},
        {cat(cat({0x00}, macA), macB), {0x1000}}, // trailing bytes
        {{0x05}, {}},
        {{0x80}, {}},
    };
    for (const auto& [request, written] : cases)
    {
        FakeEeprom eeprom;
        EXPECT_EQ(setMacAddr(request, eeprom, offsets), success());
        EXPECT_EQ(eeprom.writes, written);
        // The first selected slot takes bytes 1-6, the next bytes 7-12.
        const Bytes* next = &macA;
        for (uint32_t at : written)
        {
            EXPECT_EQ(eeprom.at(at, 6), *next);
            next = &macB;
        }
    }
}

TEST(MacAddr, ShortRequestsWriteNothing)
{
    const Case cases[] = {
        {"empty", {}, failure(0xC7)},
        {"slot 0, five bytes", {0x00, 1, 2, 3, 4, 5}, failure(0xC7)},
        {"both, one MAC", cat({0x02}, macA), failure(0xC7)},
        {"both, eleven bytes",
         {0x83, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
         failure(0xC7)},
    };
    for (const auto& c : cases)
    {
        FakeEeprom eeprom;
        EXPECT_EQ(setMacAddr(c.request, eeprom, offsets), c.expected) << c.name;
        EXPECT_THAT(eeprom.writes, IsEmpty()) << c.name;
    }
}

TEST(MacAddr, FailedWriteStopsAtThatSlot)
{
    Bytes both = cat(cat({0x02}, macA), macB);
    FakeEeprom first;
    first.failWriteAt = offsets[0];
    EXPECT_EQ(setMacAddr(both, first, offsets), failure(0xC1));
    EXPECT_THAT(first.writes, IsEmpty());
    EXPECT_EQ(first.at(offsets[1], 7), Bytes(7, 0xFF));

    FakeEeprom second;
    second.failWriteAt = offsets[1];
    EXPECT_EQ(setMacAddr(both, second, offsets), failure(0xC1));
    EXPECT_THAT(second.writes, ElementsAre(offsets[0]));
    EXPECT_EQ(second.at(offsets[0], 6), macA);
}

TEST(MacAddr, GetReadsTheSelectedSlots)
{
    FakeEeprom eeprom;
    // The checksum bytes are wrong on purpose: Get does not check them.
    eeprom.put(offsets[0], cat(macA, {0x00}));
    eeprom.put(offsets[1], cat(macB, {0x00}));
    const Case cases[] = {
        {"empty", {}, failure(0xC7)},
        {"slot 0", {0x00}, success(macA)},
        {"slot 1", {0x01}, success(macB)},
        {"both", {0x02}, success(cat(macA, macB))},
        {"mask both", {0x83, 0x00}, success(cat(macA, macB))},
        {"none", {0x80}, success()},
        {"unknown", {0x04}, success()},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(getMacAddr(c.request, eeprom, offsets), c.expected) << c.name;
    }
}

TEST(MacAddr, UnreadableSlotAnswersZeros)
{
    ScribblingEeprom eeprom;
    eeprom.put(offsets[1], cat(macB, {0x00}));
    eeprom.failReadAt = offsets[0];
    EXPECT_EQ(getMacAddr(Bytes{0x02}, eeprom, offsets),
              success(cat(Bytes(6, 0x00), macB)));
}

TEST(MacAddr, MacInfo)
{
    FakeMacFacts facts;
    const Case cases[] = {
        {"empty", {}, failure(0xC7)},
        {"types", {0x00}, success({0x02, 0x10, 0x11})},
        {"channels", {0x01, 0x07}, success({0x02, 0x20, 0x21})},
        {"past the last", {0x02}, failure(0xC1)},
        {"0xFF", {0xFF}, failure(0xC1)},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(getMacInfo(c.request, facts), c.expected) << c.name;
    }
}

} // namespace
} // namespace kestrel::test
