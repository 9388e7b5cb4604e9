// Get and Set GPIO through the host's dispatcher, with the simulated libgpiod
// loaded in place of the real one and the mocked LED group manager.
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <dlfcn.h>
#include <gpiod.h>

#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "gpiod_double.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mockbus = kestrel::test::mockbus;
using kestrel::test::Reply;
using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Not;
using testing::StartsWith;
using Bytes = std::vector<uint8_t>;

namespace
{

constexpr ipmi::Cmd cmdSet = 0x10;
constexpr ipmi::Cmd cmdGet = 0x11;
constexpr auto chip = "gpiochip0";
constexpr auto systemFault = "/xyz/openbmc_project/led/groups/system_fault";

class GpioTest : public mockbus::MockTest
{
  protected:
    GpioTest() : MockTest({mockbus::led})
    {
    }

    static void SetUpTestSuite()
    {
        void* lib = ::dlopen(GPIOD_DOUBLE, RTLD_NOW | RTLD_GLOBAL);
        ASSERT_NE(lib, nullptr) << ::dlerror();
        // The provider binds to the double loaded above.
        ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
        ASSERT_EQ(::dlopen("libgpiod.so.2", RTLD_NOW | RTLD_NOLOAD), lib);
        auto find = [lib](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(
                ::dlsym(lib, name));
            ASSERT_NE(fn, nullptr) << name;
        };
        find(reset, "gpiod_double_reset");
        find(hold, "gpiod_double_hold");
        find(setInput, "gpiod_double_set_input");
        find(lineState, "gpiod_double_line");
        find(eventLog, "gpiod_double_events");
        find(openChips, "gpiod_double_open_chips");
        if (HasFatalFailure())
        {
            return;
        }
        // The board as ipmid sees it before any test sets one up.
        lastLine = send(cmdGet, {231});
        pastEnd = send(cmdGet, {232});
    }

    void SetUp() override
    {
        MockTest::SetUp();
        board(232);
    }

    void TearDown() override
    {
        EXPECT_EQ(openChips(), 0) << "a chip was left open";
    }

    static void board(unsigned int lines, const char* name = chip)
    {
        GpiodDoubleChip c{name, lines};
        reset(&c, 1);
    }

    static Reply send(ipmi::Cmd cmd, const Bytes& data)
    {
        return kestrel::test::send(0x3A, cmd, data);
    }

    // The calls made to the library, one line each.
    static std::vector<std::string> events()
    {
        const GpiodDoubleEvent* e = nullptr;
        std::vector<std::string> out;
        for (size_t i = 0, n = eventLog(&e); i < n; ++i)
        {
            const GpiodDoubleEvent& ev = e[i];
            std::string at = std::to_string(ev.offset);
            std::string s;
            switch (ev.kind)
            {
                case gpiodDoubleOpen:
                    s = std::string("open ") + ev.chip;
                    break;
                case gpiodDoubleClose:
                    s = "close";
                    break;
                case gpiodDoubleRequest:
                    s = "request " + at + " " + ev.consumer + " " +
                        std::to_string(ev.requestType) + "/" +
                        std::to_string(ev.flags) + "/" +
                        std::to_string(ev.value);
                    break;
                case gpiodDoubleSetValue:
                    s = "set " + at + " " + std::to_string(ev.value);
                    break;
                case gpiodDoubleRelease:
                    s = "release " + at;
                    break;
            }
            if (ev.result != 0)
            {
                s += " errno " + std::to_string(ev.result);
            }
            out.push_back(s);
        }
        return out;
    }

    static GpiodDoubleLine line(unsigned int offset)
    {
        GpiodDoubleLine l{};
        EXPECT_EQ(lineState(chip, offset, &l), 0);
        return l;
    }

    static inline decltype(&gpiod_double_reset) reset = nullptr;
    static inline decltype(&gpiod_double_hold) hold = nullptr;
    static inline decltype(&gpiod_double_set_input) setInput = nullptr;
    static inline decltype(&gpiod_double_line) lineState = nullptr;
    static inline decltype(&gpiod_double_events) eventLog = nullptr;
    static inline decltype(&gpiod_double_open_chips) openChips = nullptr;
    static inline Reply lastLine, pastEnd;
};

TEST_F(GpioTest, DefaultBoardIsOneChipOf232Lines)
{
    EXPECT_EQ(lastLine.cc, 0x00);
    EXPECT_THAT(lastLine.data, ElementsAre(231, 0x01, 0x01, 0x00));
    EXPECT_THAT(pastEnd.data, ElementsAre(232, 0x01, 0xFF, 0xFF));
}

TEST_F(GpioTest, GetReadsDirectionAndLevelInTwoPasses)
{
    setInput(chip, 5, 1);
    Reply r = send(cmdGet, {0x05});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, ElementsAre(0x05, 0x01, 0x01, 0x01));
    // Request type 1 is as-is: Get never changes a line's direction.
    const std::string pass[] = {"open /dev/gpiochip0",
                                "request 5 ipmiget 1/0/0", "close"};
    EXPECT_THAT(events(), ElementsAre(pass[0], pass[1], pass[2], pass[0],
                                      pass[1], pass[2]));
    EXPECT_FALSE(line(5).requested);
}

TEST_F(GpioTest, SetOutputDrivesAnyNonZeroLevelHigh)
{
    for (uint8_t level : {0x01, 0xFF, 0x00})
    {
        board(232);
        Reply r = send(cmdSet, {0x07, 0x02, level});
        EXPECT_EQ(r.cc, 0x00);
        EXPECT_THAT(r.data, ElementsAre(0x07, 0x02, level));
        // Requested as output (3) starting low, then driven to the level.
        EXPECT_THAT(events(), ElementsAre("open /dev/gpiochip0",
                                          "request 7 ipmiset 3/0/0",
                                          "set 7 " + std::to_string(level),
                                          "release 7", "close"));
        // Released, the line keeps driving its level, and Get reads it.
        GpiodDoubleLine l = line(7);
        EXPECT_EQ(l.direction, GPIOD_LINE_DIRECTION_OUTPUT);
        EXPECT_EQ(l.value, level != 0);
        EXPECT_FALSE(l.requested);
        EXPECT_THAT(send(cmdGet, {0x07}).data,
                    ElementsAre(0x07, 0x01, 0x02, level != 0));
    }
}

TEST_F(GpioTest, SetInputEchoesLevelButDrivesNothing)
{
    ASSERT_EQ(send(cmdSet, {0x09, 0x02, 0x01}).cc, 0x00);
    ASSERT_EQ(line(9).value, 1);
    Reply r = send(cmdSet, {0x09, 0x01, 0x01});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, ElementsAre(0x09, 0x01, 0x01));
    EXPECT_THAT(events(), Contains("request 9 ipmiset 2/0/0"));
    EXPECT_EQ(line(9).direction, GPIOD_LINE_DIRECTION_INPUT);
    EXPECT_EQ(line(9).value, 0); // the outside level, not the echoed one
}

// Lines the handlers cannot have: Get reads 0xFF for both, Set refuses.
TEST_F(GpioTest, UnreachableLinesFailWithoutChangingThem)
{
    const std::pair<std::function<void()>, uint8_t> cases[] = {
        {[] { board(16); }, 0xFF},
        {[] { board(232, "gpiochip1"); }, 0x05},
        {[] { hold(chip, 5, "powerctl"); }, 0x05},
    };
    for (const auto& [arrange, offset] : cases)
    {
        SCOPED_TRACE(offset);
        board(232);
        arrange();
        Reply get = send(cmdGet, {offset});
        EXPECT_EQ(get.cc, 0x00);
        EXPECT_THAT(get.data, ElementsAre(offset, 0x01, 0xFF, 0xFF));
        Reply set = send(cmdSet, {offset, 0x02, 0x01});
        EXPECT_EQ(set.cc, 0xCC);
        EXPECT_THAT(set.data, IsEmpty());
        EXPECT_THAT(events(), Not(Contains(StartsWith("set "))));
    }
    EXPECT_EQ(line(5).direction, GPIOD_LINE_DIRECTION_INPUT);
    EXPECT_STREQ(line(5).consumer, "powerctl");
}

TEST_F(GpioTest, Line0x33SwitchesTheSystemFaultLed)
{
    // The direction byte is not looked at for this line.
    for (auto [dir, level, asserted] :
         {std::tuple{0x02, 0x01, "b:true"}, std::tuple{0x07, 0x00, "b:false"}})
    {
        auto mark = kestrel::test::journalMark();
        mockbus::clearCalls(mockbus::led);
        Reply r = send(cmdSet, {0x33, uint8_t(dir), uint8_t(level)});
        EXPECT_EQ(r.cc, 0x00);
        EXPECT_THAT(r.data, ElementsAre(0x33, dir, 0x00));
        EXPECT_EQ(mockbus::getProperty(mockbus::led, systemFault,
                                       "xyz.openbmc_project.Led.Group",
                                       "Asserted"),
                  asserted);
        auto sets = mockbus::calls(mockbus::led, "Set");
        ASSERT_EQ(sets.size(), 1u);
        EXPECT_EQ(sets[0].path, systemFault);
        auto entry = kestrel::test::waitForJournal("ipmiSetGPIOHL x5", mark);
        ASSERT_TRUE(entry);
        EXPECT_EQ((*entry)["PRIORITY"], "3");
    }
    EXPECT_THAT(events(), IsEmpty());
}

TEST_F(GpioTest, MalformedRequestsTouchNothing)
{
    const std::tuple<ipmi::Cmd, Bytes, uint8_t> cases[] = {
        {cmdGet, {}, 0xC7},
        {cmdSet, {}, 0xC7},
        {cmdSet, {0x05}, 0xC7},
        {cmdSet, {0x05, 0x02}, 0xC7},
        {cmdSet, {0x33, 0x02}, 0xC7},
        {cmdSet, {0x05, 0x00, 0x01}, 0xCC},
        {cmdSet, {0x05, 0x03, 0x01}, 0xCC},
    };
    for (const auto& [cmd, request, cc] : cases)
    {
        Reply r = send(cmd, request);
        EXPECT_EQ(r.cc, cc) << testing::PrintToString(request);
        EXPECT_THAT(r.data, IsEmpty());
    }
    EXPECT_THAT(events(), IsEmpty());
    EXPECT_THAT(mockbus::allCalls(mockbus::led), IsEmpty());
}

} // namespace
