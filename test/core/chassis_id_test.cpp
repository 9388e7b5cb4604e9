// Set and Get Chassis ID against a fake board EEPROM.
#include "chassis_id.hpp"
#include "chassis_record.hpp"
#include "fakes.hpp"

#include <numeric>

namespace kestrel::test::chassis_id_cases
{

using namespace chassis_id;

const Bytes kst1 = {'K', 'S', 'T', '1'};

// `id` zero-padded to 31 bytes, then the checksum.
Bytes recordOf(Bytes id)
{
    id.resize(31, 0x00);
    uint8_t sum = std::accumulate(id.begin(), id.end(), uint8_t{0});
    id.push_back(static_cast<uint8_t>(0x100 - sum));
    return id;
}

TEST(ChassisId, Set)
{
    auto wrote = [](const Bytes& record) {
        return Strings{"3f60:" + hex(record)};
    };
    const Bytes b31(31, 'B');
    const Case cases[] = {
        {"short ID", kst1, ok(), wrote(recordOf(kst1))},
        {"empty erases", {}, ok(), wrote(Bytes(32, 0xFF))},
        {"32 bytes", Bytes(32, 'B'), ok(), wrote(recordOf(b31))},
        {"33 bytes", Bytes(33, 'C'), cc(0xC7)},
    };
    check<FakeEeprom>(cases, setChassisId);
    FakeEeprom failing;
    failing.failAt = chassis::recordOffset;
    EXPECT_EQ(setChassisId(kst1, failing), cc(0xC1));
}

TEST(ChassisId, Get)
{
    const Answer allOnes = ok(Bytes(31, 0xFF));
    Bytes badChecksum = recordOf(kst1);
    badChecksum[31] ^= 0x01;
    const std::pair<Bytes, Answer> cases[] = {
        {recordOf(kst1), ok(cat(kst1, {0x00}))}, // terminated
        {recordOf(Bytes(31, 'Z')), ok(Bytes(31, 'Z'))},
        {Bytes(32, 0xFF), allOnes},
        {Bytes(32, 0x00), allOnes},
        {badChecksum, allOnes},
    };
    for (const auto& [record, expected] : cases)
    {
        FakeEeprom eeprom;
        eeprom.put(chassis::recordOffset, record);
        EXPECT_EQ(getChassisId(Bytes{0x01}, eeprom), expected) << hex(record);
        eeprom.failAt = chassis::recordOffset;
        EXPECT_EQ(getChassisId({}, eeprom), allOnes);
    }
}

} // namespace kestrel::test::chassis_id_cases
