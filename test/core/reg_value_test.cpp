// Register access against fake registers.
#include "fakes.hpp"
#include "reg_value.hpp"

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using reg_value::getRegValue;
using reg_value::setRegValue;
using testing::ElementsAre;
using testing::IsEmpty;

struct FakeRegisters : reg_value::Registers
{
    std::map<uint32_t, uint32_t> words;
    bool failRead = false;
    bool failWrite = false;
    std::vector<std::pair<uint32_t, uint32_t>> writes;

    int read32(uint32_t address, uint32_t* value) override
    {
        if (failRead)
        {
            return -EIO;
        }
        *value = words[address];
        return 0;
    }
    int write32(uint32_t address, uint32_t value) override
    {
        writes.emplace_back(address, value);
        if (failWrite)
        {
            return -EIO;
        }
        words[address] = value;
        return 0;
    }
};

struct FakeLog : reg_value::Log
{
    std::vector<std::string> lines;
    void setRegValue(uint32_t address, uint32_t value) override
    {
        lines.push_back("set " + std::to_string(address) + " " +
                        std::to_string(value));
    }
    void getRegValue(uint32_t address, uint32_t value) override
    {
        lines.push_back("get " + std::to_string(address) + " " +
                        std::to_string(value));
    }
};

TEST(RegValue, BigEndianBothWays)
{
    const uint8_t bytes[] = {0x1E, 0x6E, 0x20, 0x9C};
    EXPECT_EQ(reg_value::fromBigEndian(bytes), 0x1E6E209Cu);
    EXPECT_THAT(reg_value::toBigEndian(0x01020304),
                ElementsAre(0x01, 0x02, 0x03, 0x04));
    EXPECT_EQ(reg_value::fromBigEndian(reg_value::toBigEndian(0xFFFFFFFE)),
              0xFFFFFFFEu);
}

TEST(RegValue, SetRequests)
{
    const Case cases[] = {
        {"empty", {}, failure(0xC7)},
        {"seven bytes",
         {0x1E, 0x78, 0x60, 0x04, 0x11, 0x22, 0x33},
         failure(0xC7)},
        {"eight bytes",
         {0x1E, 0x78, 0x60, 0x04, 0x11, 0x22, 0x33, 0x44},
         success()},
        {"trailing",
         {0x1E, 0x78, 0x60, 0x04, 0x11, 0x22, 0x33, 0x44, 0x55},
         success()},
    };
    for (const auto& c : cases)
    {
        FakeRegisters registers;
        FakeLog log;
        EXPECT_EQ(setRegValue(c.request, registers, log), c.expected) << c.name;
        if (c.expected.cc == 0x00)
        {
            EXPECT_THAT(registers.writes,
                        ElementsAre(std::pair{0x1E786004u, 0x11223344u}))
                << c.name;
            EXPECT_THAT(log.lines, ElementsAre("set 511205380 287454020"))
                << c.name;
        }
        else
        {
            EXPECT_THAT(registers.writes, IsEmpty()) << c.name;
            EXPECT_THAT(log.lines, IsEmpty()) << c.name;
        }
    }
}

TEST(RegValue, GetRequests)
{
    const Case cases[] = {
        {"empty", {}, failure(0xC7)},
        {"three bytes", {0x00, 0x00, 0x10}, failure(0xC7)},
        {"four bytes",
         {0x00, 0x00, 0x10, 0x00},
         success({0xCA, 0xFE, 0x00, 0x01})},
        {"trailing",
         {0x00, 0x00, 0x10, 0x00, 0x07},
         success({0xCA, 0xFE, 0x00, 0x01})},
    };
    for (const auto& c : cases)
    {
        FakeRegisters registers;
        registers.words[0x1000] = 0xCAFE0001;
        FakeLog log;
        EXPECT_EQ(getRegValue(c.request, registers, log), c.expected) << c.name;
        EXPECT_EQ(log.lines.size(), c.expected.cc == 0x00 ? 1u : 0u) << c.name;
    }
}

TEST(RegValue, LibraryFailuresAnswerNodeBusy)
{
    FakeRegisters registers;
    registers.failWrite = true;
    registers.failRead = true;
    registers.words[0x1000] = 0x12345678;
    FakeLog log;
    // The line goes out before the write that fails.
    EXPECT_EQ(setRegValue(Bytes{0, 0, 0x10, 0, 0, 0, 0, 9}, registers, log),
              failure(0xC0));
    EXPECT_EQ(registers.words[0x1000], 0x12345678u);
    // A failed read still answers four bytes, zero, and prints them.
    EXPECT_EQ(getRegValue(Bytes{0, 0, 0x10, 0}, registers, log),
              (Answer{0xC0, {0, 0, 0, 0}}));
    EXPECT_THAT(log.lines, ElementsAre("set 4096 9", "get 4096 0"));
}

} // namespace
} // namespace kestrel::test
