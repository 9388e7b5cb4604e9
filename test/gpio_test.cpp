// Get and Set GPIO through the host's dispatcher, with the simulated libgpiod
// loaded in place of the real one and the mocked LED group manager.
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <dlfcn.h>
#include <gpiod.h>

#include "gpiod_double.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mockbus = kestrel::test::mockbus;
using kestrel::test::ask;
using kestrel::test::Bytes;
using testing::ElementsAre;

namespace
{

constexpr auto chip = "gpiochip0";
void* gpiodDouble = nullptr;

// One of the double's control functions.
#define DOUBLE(fn) reinterpret_cast<decltype(&fn)>(::dlsym(gpiodDouble, #fn))

void board(unsigned int lines, const char* name = chip)
{
    GpiodDoubleChip c{name, lines};
    DOUBLE(gpiod_double_reset)(&c, 1);
}

/** The calls made to the library since the board was set up. */
std::vector<std::string> events()
{
    const GpiodDoubleEvent* e = nullptr;
    std::vector<std::string> out;
    for (size_t i = 0, n = DOUBLE(gpiod_double_events)(&e); i < n; ++i)
    {
        std::string at = std::to_string(e[i].offset);
        const std::string kinds[] = {
            std::string("open ") + e[i].chip, "close",
            "request " + at + " " + e[i].consumer + " " +
                std::to_string(e[i].requestType) + "/" +
                std::to_string(e[i].flags) + "/" + std::to_string(e[i].value),
            "set " + at + " " + std::to_string(e[i].value), "release " + at};
        out.push_back(kinds[e[i].kind]);
    }
    return out;
}

class GpioTest : public mockbus::MockTest
{
  protected:
    GpioTest() : MockTest({mockbus::led})
    {
    }

    static void SetUpTestSuite()
    {
        gpiodDouble = ::dlopen(GPIOD_DOUBLE, RTLD_NOW | RTLD_GLOBAL);
        ASSERT_NE(gpiodDouble, nullptr) << ::dlerror();
        // The provider binds to the double loaded above.
        ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
        ASSERT_EQ(::dlopen("libgpiod.so.2", RTLD_NOW | RTLD_NOLOAD),
                  gpiodDouble);
    }

    void SetUp() override
    {
        MockTest::SetUp();
        board(232);
    }

    void TearDown() override
    {
        EXPECT_EQ(DOUBLE(gpiod_double_open_chips)(), 0) << "a chip left open";
    }
};

TEST_F(GpioTest, GetAndSetReachTheLineThroughLibgpiod)
{
    DOUBLE(gpiod_double_set_input)(chip, 5, 1);
    EXPECT_THAT(ask(0x11, {0x05}), ElementsAre(0x00, 0x05, 0x01, 0x01, 0x01));
    // Request type 1 is as-is: Get never changes a line's direction.
    const std::string pass[] = {"open /dev/gpiochip0",
                                "request 5 ipmiget 1/0/0", "close"};
    EXPECT_THAT(events(), ElementsAre(pass[0], pass[1], pass[2], pass[0],
                                      pass[1], pass[2]));
    EXPECT_THAT(ask(0x11, {}), ElementsAre(0xC7));

    board(232);
    // Set: requested as output (3) starting low, then driven to the level, and
    // released: the line keeps driving it.
    EXPECT_THAT(ask(0x10, {0x07, 0x02, 0xFF}), ElementsAre(0x00, 7, 2, 0xFF));
    EXPECT_THAT(events(),
                ElementsAre("open /dev/gpiochip0", "request 7 ipmiset 3/0/0",
                            "set 7 255", "release 7", "close"));
    EXPECT_THAT(ask(0x11, {0x07}), ElementsAre(0x00, 7, 0x01, 0x02, 0x01));
    // As input (2) the level is echoed, but nothing drives it.
    EXPECT_THAT(ask(0x10, {0x07, 0x01, 0x01}), ElementsAre(0x00, 7, 1, 1));
    EXPECT_THAT(events(), testing::Contains("request 7 ipmiset 2/0/0"));
    EXPECT_THAT(ask(0x11, {0x07}), ElementsAre(0x00, 7, 0x01, 0x01, 0x00));
    EXPECT_THAT(ask(0x10, {0x07, 0x03, 0x01}), ElementsAre(0xCC));
}

// A line another process holds: Get reads 0xFF for both, Set refuses.
TEST_F(GpioTest, AHeldLineFailsWithoutChangingIt)
{
    DOUBLE(gpiod_double_hold)(chip, 0x10, "powerctl");
    EXPECT_THAT(ask(0x11, {0x10}), ElementsAre(0x00, 0x10, 1, 0xFF, 0xFF));
    EXPECT_THAT(ask(0x10, {0x10, 0x02, 0x01}), ElementsAre(0xCC));
    EXPECT_THAT(events(),
                testing::Not(testing::Contains(testing::StartsWith("set "))));
}

TEST_F(GpioTest, Line0x33SwitchesTheSystemFaultLedAndLogs)
{
    constexpr auto systemFault = "/xyz/openbmc_project/led/groups/system_fault";
    auto mark = kestrel::test::journalMark();
    // The direction byte is not looked at for this line.
    EXPECT_THAT(ask(0x10, {0x33, 0x07, 0x01}), ElementsAre(0x00, 0x33, 7, 0));
    EXPECT_EQ(mockbus::getProperty(mockbus::led, systemFault,
                                   "xyz.openbmc_project.Led.Group", "Asserted"),
              "b:true");
    EXPECT_EQ(mockbus::calls(mockbus::led, "Set").size(), 1u);
    auto entry = kestrel::test::waitForJournal("ipmiSetGPIOHL x5", mark);
    ASSERT_TRUE(entry);
    EXPECT_EQ((*entry)["PRIORITY"], "3");
    EXPECT_THAT(events(), testing::IsEmpty());
}

} // namespace
