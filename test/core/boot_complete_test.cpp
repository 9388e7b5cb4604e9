// Get Boot Complete against a fake LED group manager.
#include "boot_complete.hpp"
#include "dbus_names.hpp"
#include "fakes.hpp"

#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using boot_complete::getBootComplete;

TEST(BootComplete, FollowsTheBmcBootedGroupOnly)
{
    FakeLedGroups leds;
    leds.groups[dbus::ledSystemFault] = true;
    EXPECT_EQ(getBootComplete({}, leds), success({0x00}));
    leds.groups[dbus::ledBmcBooted] = true;
    EXPECT_EQ(getBootComplete({}, leds), success({0x01}));
    // Request bytes are ignored.
    EXPECT_EQ(getBootComplete(Bytes{0x00, 0x05}, leds), success({0x01}));
    leds.groups[dbus::ledBmcBooted] = false;
    EXPECT_EQ(getBootComplete(Bytes{0x01}, leds), success({0x00}));
    EXPECT_TRUE(leds.writes.empty());
}

TEST(BootComplete, BusFailureEscapes)
{
    FakeLedGroups leds;
    leds.fail = true;
    EXPECT_THROW(getBootComplete({}, leds), BusFailure);
}

} // namespace
} // namespace kestrel::test
