// Set and Get MAC address and Get MAC info through the host's dispatcher,
// against the board EEPROM image of the sandbox.
#include "provider.hpp"

#include <gtest/gtest.h>

using kestrel::test::Bytes;
using kestrel::test::send;

namespace
{

// Both 7-byte slots (0x3F80, 0x3F88) and the byte after each.
constexpr uint32_t area = 0x3F80;

const Bytes macA{0x02, 0x11, 0x22, 0x33, 0x44, 0x56};
const Bytes macB{0x0A, 0xBB, 0xCC, 0xDD, 0xEE, 0x10};

Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(MacAddr, SlotsAtTheBoardOffsetsAndTheBoardsMacInfo)
{
    ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    const Bytes slotA = cat(macA, {0xFE, 0xFF}),
                slotB = cat(macB, {0x94, 0xFF});
    const Bytes erased(8, 0xFF);
    // Selector, the area after the Set, the Get answer.
    const std::tuple<uint8_t, Bytes, Bytes> rows[] = {
        {0x01, cat(erased, slotA), macA},
        {0x02, cat(slotA, slotB), cat(macA, macB)},
    };
    for (const auto& [selector, stored, get] : rows)
    {
        kestrel::test::eraseEeprom(area, 16);
        auto r = send(0x3A, 0xA0, cat(cat({selector}, macA), macB));
        EXPECT_EQ(r.cc, 0x00);
        EXPECT_TRUE(r.data.empty());
        EXPECT_EQ(kestrel::test::readEeprom(area, 16), stored);
        r = send(0x3A, 0xA1, {selector});
        EXPECT_EQ(r.cc, 0x00);
        EXPECT_EQ(r.data, get);
    }
    EXPECT_EQ(send(0x3A, 0xA0, {0x01, 1, 2, 3, 4, 5}).cc, 0xC7);
    EXPECT_EQ(send(0x3A, 0xA1, {}).cc, 0xC7);

    // Get MAC info answers the board's types and channels.
    auto r = send(0x3A, 0xE2, {0x00});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_EQ(r.data, (Bytes{0x02, 0x00, 0x01}));
    r = send(0x3A, 0xE2, {0x01});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_EQ(r.data, (Bytes{0x02, 0x01, 0x02}));
    EXPECT_EQ(send(0x3A, 0xE2, {0x02}).cc, 0xC1);
}

} // namespace
