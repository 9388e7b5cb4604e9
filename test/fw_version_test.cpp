// Version records through the dispatcher: the store and the updater.
#include "mockbus.hpp"
#include "provider.hpp"

#include <gtest/gtest.h>

using namespace kestrel::test;

constexpr auto biosActive = "/xyz/openbmc_project/software/bios_active";

// `index` and the zero-padded record: a Set request, or (index 0, the
// completion code) a Get answer.
static Bytes record(uint8_t index, Bytes head)
{
    head.resize(16, 0x00);
    head.insert(head.begin(), index);
    return head;
}

TEST(FwVersion, RecordsAreStoredAndOnlyTheBiosOnesPublished)
{
    mockbus::reset(mockbus::software);
    Bytes other = record(0x05, {0x03, 0x01, 0x58, 0x59, 0x02, 0xAA, 0xBB});
    other[16] = 0xEE;
    EXPECT_EQ(ask(0x86, other), (Bytes{0x00, 0x00}));
    other[0] = 0x00;
    EXPECT_EQ(ask(0x87, {0x05}), other);
    EXPECT_TRUE(mockbus::calls(mockbus::software, "Set").empty());
    // Record 0 is published (docs/commands.md shows the property); a publish
    // the updater refuses fails the request.
    mockbus::failSet(mockbus::software, biosActive, "Version",
                     "xyz.openbmc_project.Common.Error.NotAllowed", "busy");
    EXPECT_EQ(ask(0x86, record(0x00, {0x02, 0x02})), Bytes{0xFF});
}
