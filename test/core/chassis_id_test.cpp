// Set and Get Chassis ID against a fake board EEPROM.
#include "chassis_id.hpp"
#include "chassis_record.hpp"
#include "fakes.hpp"

#include <numeric>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using chassis_id::getChassisId;
using chassis_id::setChassisId;
using testing::ElementsAre;
using testing::IsEmpty;

constexpr uint32_t offset = chassis::recordOffset;

Bytes text(const std::string& s)
{
    return {s.begin(), s.end()};
}

// `id` zero-padded to 31 bytes, then the checksum.
Bytes recordOf(const Bytes& id)
{
    Bytes record = id;
    record.resize(31, 0x00);
    uint8_t sum = std::accumulate(record.begin(), record.end(), uint8_t{0});
    record.push_back(static_cast<uint8_t>(0x100 - sum));
    return record;
}

TEST(ChassisId, SetWritesTheRecord)
{
    const std::pair<std::string, Bytes> cases[] = {
        {"KST1", recordOf(text("KST1"))},
        {"", Bytes(32, 0xFF)},
        {std::string(31, 'A'), recordOf(Bytes(31, 'A'))},
    };
    for (const auto& [id, record] : cases)
    {
        FakeEeprom eeprom;
        EXPECT_EQ(setChassisId(text(id), eeprom), success()) << id;
        EXPECT_THAT(eeprom.writes, ElementsAre(offset)) << id;
        EXPECT_EQ(eeprom.at(offset, 32), record) << id;
    }
}

TEST(ChassisId, SetLengthLimit)
{
    FakeEeprom eeprom;
    // 32 bytes fit (the last gives way to the checksum); 33 do not.
    EXPECT_EQ(setChassisId(Bytes(32, 'B'), eeprom), success());
    EXPECT_EQ(eeprom.at(offset, 32), recordOf(Bytes(31, 'B')));
    eeprom.writes.clear();
    EXPECT_EQ(setChassisId(Bytes(33, 'C'), eeprom), failure(0xC7));
    EXPECT_THAT(eeprom.writes, IsEmpty());
    EXPECT_EQ(eeprom.at(offset, 32), recordOf(Bytes(31, 'B')));
}

TEST(ChassisId, FailedWriteAnswersC1)
{
    FakeEeprom eeprom;
    eeprom.failWriteAt = offset;
    EXPECT_EQ(setChassisId(text("KST1"), eeprom), failure(0xC1));
    EXPECT_EQ(eeprom.at(offset, 32), Bytes(32, 0xFF));
}

TEST(ChassisId, GetAnswersTheIdOrAllOnes)
{
    const Bytes allOnes(31, 0xFF);
    Bytes badChecksum = recordOf(text("KST1"));
    badChecksum[31] ^= 0x01;
    Bytes unset(32, 0x00);
    const std::tuple<const char*, Bytes, Answer> cases[] = {
        {"short ID has its terminator", recordOf(text("KST1")),
         success(text(std::string("KST1") + '\0'))},
        {"full ID has none", recordOf(Bytes(31, 'Z')), success(Bytes(31, 'Z'))},
        {"erased", Bytes(32, 0xFF), success(allOnes)},
        {"unset", unset, success(allOnes)},
        {"checksum mismatch", badChecksum, success(allOnes)},
    };
    for (const auto& [name, record, expected] : cases)
    {
        FakeEeprom eeprom;
        eeprom.put(offset, record);
        EXPECT_EQ(getChassisId({}, eeprom), expected) << name;
        EXPECT_EQ(getChassisId(Bytes{0x01, 0x02}, eeprom), expected) << name;
    }
}

TEST(ChassisId, FailedReadAnswersAllOnes)
{
    FakeEeprom eeprom;
    eeprom.put(offset, recordOf(text("KST1")));
    eeprom.failReadAt = offset;
    EXPECT_EQ(getChassisId({}, eeprom), success(Bytes(31, 0xFF)));
}

TEST(ChassisId, SetThenGetRoundTrips)
{
    FakeEeprom eeprom;
    ASSERT_EQ(setChassisId(text("KST2"), eeprom), success());
    EXPECT_EQ(getChassisId({}, eeprom),
              success(text(std::string("KST2") + '\0')));
    ASSERT_EQ(setChassisId({}, eeprom), success());
    EXPECT_EQ(getChassisId({}, eeprom), success(Bytes(31, 0xFF)));
}

} // namespace
} // namespace kestrel::test
