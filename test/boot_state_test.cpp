// BIOS POST status on the host state mock (docs/commands.md shows a status
// published and kept, and boot complete on the LED group).
#include "mockbus.hpp"
#include "provider.hpp"

#include <gtest/gtest.h>

using namespace kestrel::test;

TEST(BootState, StartsAtZeroAndARefusedStatusPublishesNothing)
{
    mockbus::reset(mockbus::stateHost);
    // The first request of the process finds status 0.
    EXPECT_EQ(ask(0xBE), (Bytes{0x00, 0x00}));
    EXPECT_EQ(ask(0xBD, {0x05}), Bytes{0xC1});
    EXPECT_EQ(ask(0xBE), (Bytes{0x00, 0x00}));
    EXPECT_TRUE(mockbus::allCalls(mockbus::stateHost).empty());
}
