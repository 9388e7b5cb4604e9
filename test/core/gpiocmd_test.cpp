// GPIO get and set against fake lines and LED groups.
#include "dbus_names.hpp"
#include "fakes.hpp"
#include "gpiocmd.hpp"

#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using gpiocmd::getGpio;
using gpiocmd::GpioLines;
using gpiocmd::setGpio;
using testing::ElementsAre;
using testing::IsEmpty;

constexpr auto chip = "/scratch/gpiochip9";

/** Lines by offset, each with what its passes answer; offsets without an
 *  entry cannot be reached. */
struct FakeLines : GpioLines
{
    struct Line
    {
        int direction = 1;
        int value = 0;
        bool requestable = true;
    };
    std::map<uint8_t, Line> lines;
    /** Every pass: "read chip offset consumer what" or "write chip offset
     *  consumer in|out level". */
    std::vector<std::string> passes;

    int readLine(const std::string& path, uint8_t offset,
                 const std::string& consumer, Read what) override
    {
        passes.push_back("read " + path + " " + std::to_string(offset) + " " +
                         consumer +
                         (what == Read::direction ? " direction" : " value"));
        auto it = lines.find(offset);
        if (it == lines.end() || !it->second.requestable)
        {
            return -1;
        }
        return what == Read::direction ? it->second.direction
                                       : it->second.value;
    }
    bool writeLine(const std::string& path, uint8_t offset,
                   const std::string& consumer, bool output,
                   uint8_t level) override
    {
        passes.push_back("write " + path + " " + std::to_string(offset) + " " +
                         consumer + (output ? " out " : " in ") +
                         std::to_string(level));
        auto it = lines.find(offset);
        return it != lines.end() && it->second.requestable;
    }
};

struct FakeLog : gpiocmd::Log
{
    int entries = 0;
    void systemFaultLed() override
    {
        ++entries;
    }
};

struct Gpio : testing::Test
{
    FakeLines lines;
    FakeLedGroups leds;
    FakeLog log;

    Gpio()
    {
        lines.lines[5] = {};
        lines.lines[6] = {.requestable = false};
    }
};

TEST_F(Gpio, SetRequests)
{
    struct SetCase
    {
        const char* name;
        Bytes request;
        Answer expected;
        std::vector<std::string> passes;
    };
    const std::string line5 = std::string("write ") + chip + " 5 ipmiset";
    const SetCase cases[] = {
        {"empty", {}, failure(0xC7), {}},
        {"too short", {0x05, 0x02}, failure(0xC7), {}},
        {"input",
         {0x05, 0x01, 0x01},
         success({0x05, 0x01, 0x01}),
         {line5 + " in 1"}},
        {"output high",
         {0x05, 0x02, 0x07},
         success({0x05, 0x02, 0x07}),
         {line5 + " out 7"}},
        {"output low",
         {0x05, 0x02, 0x00},
         success({0x05, 0x02, 0x00}),
         {line5 + " out 0"}},
        {"trailing",
         {0x05, 0x02, 0x01, 0x09},
         success({0x05, 0x02, 0x01}),
         {line5 + " out 1"}},
        {"direction 0", {0x05, 0x00, 0x01}, failure(0xCC), {}},
        {"direction 3", {0x05, 0x03, 0x01}, failure(0xCC), {}},
        {"request refused",
         {0x06, 0x02, 0x01},
         failure(0xCC),
         {std::string("write ") + chip + " 6 ipmiset out 1"}},
        {"no such line",
         {0xE8, 0x01, 0x00},
         failure(0xCC),
         {std::string("write ") + chip + " 232 ipmiset in 0"}},
    };
    for (const auto& c : cases)
    {
        lines.passes.clear();
        EXPECT_EQ(setGpio(c.request, lines, leds, log, chip), c.expected)
            << c.name;
        EXPECT_EQ(lines.passes, c.passes) << c.name;
    }
    EXPECT_EQ(log.entries, 0);
    EXPECT_THAT(leds.writes, IsEmpty());
}

TEST_F(Gpio, Line0x33SwitchesTheSystemFaultLed)
{
    const std::string fault = dbus::ledSystemFault;
    EXPECT_EQ(setGpio(Bytes{0x33, 0x02, 0x01}, lines, leds, log, chip),
              success({0x33, 0x02, 0x00}));
    // Any direction byte is echoed; any non-zero level asserts.
    EXPECT_EQ(setGpio(Bytes{0x33, 0x09, 0x00}, lines, leds, log, chip),
              success({0x33, 0x09, 0x00}));
    EXPECT_EQ(setGpio(Bytes{0x33, 0x01, 0x80, 0x00}, lines, leds, log, chip),
              success({0x33, 0x01, 0x00}));
    EXPECT_THAT(leds.writes,
                ElementsAre(std::pair{fault, true}, std::pair{fault, false},
                            std::pair{fault, true}));
    EXPECT_EQ(log.entries, 3);
    EXPECT_THAT(lines.passes, IsEmpty());

    // The entry is written before the bus call that fails.
    leds.fail = true;
    EXPECT_THROW(setGpio(Bytes{0x33, 0x01, 0x01}, lines, leds, log, chip),
                 BusFailure);
    EXPECT_EQ(log.entries, 4);
}

TEST_F(Gpio, GetReadsDirectionThenLevelInTwoPasses)
{
    lines.lines[5] = {.direction = 2, .value = 1};
    EXPECT_EQ(getGpio(Bytes{0x05}, lines, chip),
              success({0x05, 0x01, 0x02, 0x01}));
    const std::string line5 = std::string("read ") + chip + " 5 ipmiget";
    EXPECT_THAT(lines.passes,
                ElementsAre(line5 + " direction", line5 + " value"));

    // Trailing bytes are ignored.
    lines.lines[5] = {.direction = 1, .value = 0};
    EXPECT_EQ(getGpio(Bytes{0x05, 0x33}, lines, chip),
              success({0x05, 0x01, 0x01, 0x00}));
}

TEST_F(Gpio, GetReportsFailedOrOddPassesAs0xFF)
{
    EXPECT_EQ(getGpio({}, lines, chip), failure(0xC7));
    EXPECT_THAT(lines.passes, IsEmpty());
    EXPECT_EQ(getGpio(Bytes{0x06}, lines, chip),
              success({0x06, 0x01, 0xFF, 0xFF}));
    EXPECT_EQ(getGpio(Bytes{0xE8}, lines, chip),
              success({0xE8, 0x01, 0xFF, 0xFF}));
    lines.lines[5] = {.direction = 0, .value = 2};
    EXPECT_EQ(getGpio(Bytes{0x05}, lines, chip),
              success({0x05, 0x01, 0xFF, 0xFF}));
    lines.lines[5] = {.direction = 3, .value = 1};
    EXPECT_EQ(getGpio(Bytes{0x05}, lines, chip),
              success({0x05, 0x01, 0xFF, 0x01}));
}

} // namespace
} // namespace kestrel::test
