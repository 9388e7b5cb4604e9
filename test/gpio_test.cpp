// Get and Set GPIO through the host's dispatcher, with the simulated libgpiod
// loaded in place of the real one and the mocked LED group manager.
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <dlfcn.h>

#include "gpiod_double.h"

#include <gmock/gmock.h>

using namespace kestrel::test;
using testing::ElementsAre;

constexpr auto chip = "gpiochip0";
static void* gpiodDouble = nullptr;

// One of the double's control functions.
#define DOUBLE(fn) reinterpret_cast<decltype(&fn)>(::dlsym(gpiodDouble, #fn))

/** The board as it starts: gpiochip0's 232 lines free, no events. */
static void board()
{
    GpiodDoubleChip c{chip, 232};
    DOUBLE(gpiod_double_reset)(&c, 1);
}

/** The calls made to the library since the board was set up. */
static std::vector<std::string> events()
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

TEST(Gpio, GetSetAndTheFaultLineReachLibgpiodAndTheLed)
{
    mockbus::reset(mockbus::led);
    gpiodDouble = ::dlopen(GPIOD_DOUBLE, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(gpiodDouble, nullptr) << ::dlerror();
    // The provider binds to the double loaded above.
    ASSERT_NE(kestrelProvider(), nullptr);
    board();
    DOUBLE(gpiod_double_set_input)(chip, 5, 1);
    EXPECT_THAT(ask(0x11, {0x05}), ElementsAre(0x00, 0x05, 0x01, 0x01, 0x01));
    // Request type 1 is as-is: Get never changes a line's direction.
    const std::string pass[] = {"open /dev/gpiochip0",
                                "request 5 ipmiget 1/0/0", "close"};
    EXPECT_THAT(events(), ElementsAre(pass[0], pass[1], pass[2], pass[0],
                                      pass[1], pass[2]));

    board();
    // Set: requested as output (3) starting low, then driven to the level, and
    // released: the line keeps driving it.
    EXPECT_THAT(ask(0x10, {0x07, 0x02, 0xFF}), ElementsAre(0x00, 7, 2, 0xFF));
    EXPECT_THAT(events(),
                ElementsAre("open /dev/gpiochip0", "request 7 ipmiset 3/0/0",
                            "set 7 255", "release 7", "close"));

    // Line 0x33 is the system fault LED, whatever the direction byte says.
    board();
    auto mark = journalMark();
    EXPECT_THAT(ask(0x10, {0x33, 0x07, 0x01}), ElementsAre(0x00, 0x33, 7, 0));
    EXPECT_EQ(mockbus::calls(mockbus::led, "Set").size(), 1u);
    auto entry = waitForJournal("ipmiSetGPIOHL x5", mark);
    EXPECT_EQ(entry ? (*entry)["PRIORITY"] : "none", "3");
    EXPECT_THAT(events(), testing::IsEmpty());
    EXPECT_EQ(DOUBLE(gpiod_double_open_chips)(), 0) << "a chip left open";
}
