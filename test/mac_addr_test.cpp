// Set and Get MAC address and Get MAC info through the host's dispatcher,
// against the board EEPROM image of the sandbox.
#include "provider.hpp"
#include "sandbox.hpp"

#include <dlfcn.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using kestrel::test::Reply;
using testing::ElementsAre;
using testing::IsEmpty;

namespace
{

using Bytes = std::vector<uint8_t>;

constexpr ipmi::NetFn netFn = 0x3A;
constexpr ipmi::Cmd cmdSetMac = 0xA0;
constexpr ipmi::Cmd cmdGetMac = 0xA1;
constexpr ipmi::Cmd cmdMacInfo = 0xE2;

constexpr uint32_t slotOffset[2] = {0x3F80, 0x3F88};
// Both slots and the byte after each.
constexpr uint32_t areaOffset = 0x3F80;
constexpr std::size_t areaLength = 16;

const Bytes macA{0x02, 0x11, 0x22, 0x33, 0x44, 0x56};
const Bytes macB{0x0A, 0xBB, 0xCC, 0xDD, 0xEE, 0x10};

// --- Seams the provider's EEPROM calls resolve to (the executable exports
// them); both forward to the provider's own libromcell. ---
std::vector<uint32_t> writeOffsets;
uint32_t failingWriteOffset = 0;
bool failReads = false;

template <typename Fn>
Fn realRomcell(const char* name)
{
    return reinterpret_cast<Fn>(
        ::dlsym(::dlopen("libromcell.so.0", RTLD_NOW | RTLD_NOLOAD), name));
}

} // namespace

extern "C" int write_eeprom(const uint8_t* data, uint32_t offset,
                            uint32_t length)
{
    using Write = int (*)(const uint8_t*, uint32_t, uint32_t);
    static auto real = realRomcell<Write>("write_eeprom");
    writeOffsets.push_back(offset);
    if (offset == failingWriteOffset)
    {
        return -EIO;
    }
    return real(data, offset, length);
}

extern "C" int read_eeprom(uint8_t* buffer, uint32_t offset, uint32_t length)
{
    using Read = int (*)(uint8_t*, uint32_t, uint32_t);
    static auto real = realRomcell<Read>("read_eeprom");
    if (failReads)
    {
        // Scribble, so that a handler passing on the buffer is caught.
        std::memset(buffer, 0xAA, length);
        return -EIO;
    }
    return real(buffer, offset, length);
}

namespace
{

Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The 7 bytes a slot should hold for `mac`.
Bytes slotBytes(const Bytes& mac)
{
    unsigned sum = std::accumulate(mac.begin(), mac.end(), 0u);
    return cat(mac, {static_cast<uint8_t>(0x100 - sum % 0x100)});
}

class MacAddrTest : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    }

    // Erased slots, and the seams back to plain pass-through.
    void SetUp() override
    {
        kestrel::test::eraseEeprom(areaOffset, areaLength);
        writeOffsets.clear();
        failingWriteOffset = 0;
        failReads = false;
    }

    static Reply send(ipmi::Cmd cmd, const Bytes& data)
    {
        return kestrel::test::send(netFn, cmd, data);
    }

    // The 7-byte slot, or the 16-byte area with count 16.
    static Bytes eeprom(uint32_t offset, std::size_t count = 7)
    {
        return kestrel::test::readEeprom(offset, count);
    }
};

TEST_F(MacAddrTest, RegistrationsOffsetsAndMacInfo)
{
    auto* offsets = kestrel::test::providerSymbol<uint16_t*>("macoffset");
    ASSERT_NE(offsets, nullptr);
    EXPECT_THAT((std::vector<uint16_t>{offsets[0], offsets[1]}),
                ElementsAre(0x3F80, 0x3F88));

    // Parameter: type, channel, then two out of range.
    const std::pair<uint8_t, Reply> cases[] = {
        {0x00, {0x00, {0x02, 0x00, 0x01}}},
        {0x01, {0x00, {0x02, 0x01, 0x02}}},
        {0x02, {0xC1, {}}},
        {0xFF, {0xC1, {}}},
    };
    for (const auto& [parameter, expected] : cases)
    {
        Reply r = send(cmdMacInfo, {parameter});
        EXPECT_EQ(r.cc, expected.cc) << int{parameter};
        EXPECT_EQ(r.data, expected.data) << int{parameter};
    }
}

TEST_F(MacAddrTest, SelectorPicksSlotsAndGetReadsThemBackInOrder)
{
    const std::pair<uint8_t, std::vector<int>> cases[] = {
        {0x00, {0}}, {0x01, {1}}, {0x02, {0, 1}}, {0x05, {}},
        {0x80, {}},  {0x81, {0}}, {0x82, {1}},    {0x83, {0, 1}},
    };
    for (const auto& [selector, slots] : cases)
    {
        SCOPED_TRACE(testing::Message() << "selector " << int{selector});
        SetUp();
        // Always 13 bytes: the first selected slot takes bytes 1-6.
        Reply r = send(cmdSetMac, cat(cat({selector}, macA), macB));
        EXPECT_EQ(r.cc, 0x00);
        EXPECT_THAT(r.data, IsEmpty());

        // Erased slots with the byte after each, which is never written.
        Bytes area(areaLength, 0xFF);
        std::vector<uint32_t> offsets;
        Bytes expectedGet;
        const Bytes* next = &macA;
        for (int slot : slots)
        {
            Bytes stored = slotBytes(*next);
            std::copy(stored.begin(), stored.end(), area.begin() + 8 * slot);
            offsets.push_back(slotOffset[slot]);
            expectedGet = cat(expectedGet, *next);
            next = &macB;
        }
        EXPECT_EQ(writeOffsets, offsets);
        EXPECT_EQ(eeprom(areaOffset, areaLength), area);

        r = send(cmdGetMac, {selector});
        EXPECT_EQ(r.cc, 0x00);
        EXPECT_EQ(r.data, expectedGet);
    }
}

TEST_F(MacAddrTest, ChecksumMakesTheSlotSumToZero)
{
    const std::pair<Bytes, uint8_t> cases[] = {
        {{0, 0, 0, 0, 0, 0}, 0x00},
        {{0x01, 0, 0, 0, 0, 0}, 0xFF},
        {{0x00, 0x80, 0x00, 0x00, 0x00, 0x81}, 0xFF}, // the sum wraps to 1
        {Bytes(6, 0xFF), 0x06},
        {macA, 0xFE},
    };
    for (const auto& [mac, checksum] : cases)
    {
        ASSERT_EQ(send(cmdSetMac, cat({0x00}, mac)).cc, 0x00);
        EXPECT_EQ(eeprom(slotOffset[0]), cat(mac, {checksum}));
    }
}

TEST_F(MacAddrTest, EmptyOrShortRequestsWriteNothing)
{
    for (unsigned cmd : {cmdSetMac, cmdGetMac, cmdMacInfo})
    {
        Reply r = send(cmd, {});
        EXPECT_EQ(r.cc, 0xC7) << cmd;
        EXPECT_THAT(r.data, IsEmpty()) << cmd;
    }
    // Six bytes short for the second slot, one short for the only one.
    EXPECT_EQ(send(cmdSetMac, cat({0x02}, macA)).cc, 0xC7);
    EXPECT_EQ(send(cmdSetMac, {0x83, 1, 2, 3, 4, 5, 6, 7, 8}).cc, 0xC7);
    EXPECT_EQ(send(cmdSetMac, {0x01, 1, 2, 3, 4, 5}).cc, 0xC7);
    EXPECT_THAT(writeOffsets, IsEmpty());
    EXPECT_EQ(eeprom(areaOffset, areaLength), Bytes(areaLength, 0xFF));

    // No slot selected needs no address bytes.
    EXPECT_EQ(send(cmdSetMac, {0x05}).cc, 0x00);
    Reply r = send(cmdGetMac, {0x80});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, IsEmpty());
}

TEST_F(MacAddrTest, EepromFailures)
{
    // Slot 0 fails: slot 1 is not attempted.
    failingWriteOffset = slotOffset[0];
    Reply r = send(cmdSetMac, cat(cat({0x02}, macA), macB));
    EXPECT_EQ(r.cc, 0xC1);
    EXPECT_THAT(r.data, IsEmpty());
    EXPECT_THAT(writeOffsets, ElementsAre(slotOffset[0]));
    EXPECT_EQ(eeprom(areaOffset, areaLength), Bytes(areaLength, 0xFF));

    // Slot 1 fails: slot 0 keeps its new value.
    writeOffsets.clear();
    failingWriteOffset = slotOffset[1];
    EXPECT_EQ(send(cmdSetMac, cat(cat({0x83}, macA), macB)).cc, 0xC1);
    EXPECT_THAT(writeOffsets, ElementsAre(slotOffset[0], slotOffset[1]));
    EXPECT_EQ(eeprom(slotOffset[0]), slotBytes(macA));
    EXPECT_EQ(eeprom(slotOffset[1]), Bytes(7, 0xFF));

    // A slot that cannot be read answers zeros, still with success.
    failReads = true;
    r = send(cmdGetMac, {0x02});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_EQ(r.data, Bytes(12, 0x00));
}

} // namespace
