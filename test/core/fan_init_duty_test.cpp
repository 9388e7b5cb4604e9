// Fan initial duty against a fake EEPROM.
#include "fakes.hpp"
#include "fan_init_duty.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using fan_init_duty::getFanInitDuty;
using fan_init_duty::setFanInitDuty;
using fan_init_duty::tableOffset;
using testing::ElementsAre;
using testing::IsEmpty;

TEST(FanInitDuty, SetRequests)
{
    struct SetCase
    {
        const char* name;
        Bytes request;
        Answer expected;
    };
    const SetCase cases[] = {
        {"empty", {}, failure(0xCC)},
        {"nine duties", Bytes(9, 0x32), failure(0xCC)},
        {"below 20", {0x13}, failure(0xCC)},
        {"above 100", {0x32, 0x65}, failure(0xCC)},
        {"zero among valid", {0x14, 0x64, 0x32, 0x00}, failure(0xCC)},
        {"20", {0x14}, success()},
        {"100", {0x64}, success()},
        {"eight duties", Bytes(8, 0x50), success()},
    };
    for (const auto& c : cases)
    {
        FakeEeprom eeprom;
        EXPECT_EQ(setFanInitDuty(c.request, eeprom), c.expected) << c.name;
        if (c.expected.cc != 0x00)
        {
            EXPECT_THAT(eeprom.writes, IsEmpty()) << c.name;
            continue;
        }
        EXPECT_THAT(eeprom.writes, ElementsAre(tableOffset)) << c.name;
        EXPECT_EQ(eeprom.at(tableOffset, c.request.size()), c.request)
            << c.name;
        // Nothing beyond the given duties changes, before or after.
        EXPECT_EQ(eeprom.image[tableOffset - 1], 0xFF) << c.name;
        EXPECT_EQ(eeprom.image[tableOffset + c.request.size()], 0xFF) << c.name;
    }
}

TEST(FanInitDuty, GetReportsOutOfRangeBytesAsZero)
{
    FakeEeprom eeprom;
    EXPECT_EQ(getFanInitDuty(eeprom), success(Bytes(8, 0x00)));
    eeprom.put(tableOffset, {0x14, 0x32, 0x64, 0x30, 0x13, 0xFF, 0x64, 0x65});
    EXPECT_EQ(getFanInitDuty(eeprom),
              success({0x14, 0x32, 0x64, 0x30, 0x00, 0x00, 0x64, 0x00}));
}

TEST(FanInitDuty, EepromFailuresAnswerUnspecifiedError)
{
    FakeEeprom eeprom;
    eeprom.put(tableOffset, Bytes(8, 0x40));
    eeprom.failWriteAt = tableOffset;
    EXPECT_EQ(setFanInitDuty(Bytes{0x32}, eeprom), failure(0xFF));
    EXPECT_EQ(eeprom.at(tableOffset, 8), Bytes(8, 0x40));
    eeprom.failReadAt = tableOffset;
    EXPECT_EQ(getFanInitDuty(eeprom), failure(0xFF));
}

} // namespace
} // namespace kestrel::test
