// Set and Get Chassis ID against a fake board EEPROM.
#include "chassis_id.hpp"
#include "chassis_record.hpp"
#include "fakes.hpp"

#include <numeric>

namespace kestrel::test::chassis_id_cases
{

using namespace chassis_id;

// `id` zero-padded to 31 bytes, then the checksum.
Bytes recordOf(Bytes id)
{
    id.resize(31, 0x00);
    id.push_back(0x100 - std::accumulate(id.begin(), id.end(), uint8_t{0}));
    return id;
}

TEST(ChassisId, SetAndGet)
{
    const Bytes kst1 = {'K', 'S', 'T', '1'}, b31(31, 'B'), ff31(31, 0xFF);
    const std::string at = "3f60:";
    const Case cases[] = {
        {"short ID", kst1, ok(), {at + hex(recordOf(kst1))}},
        {"empty erases", {}, ok(), {at + hex(Bytes(32, 0xFF))}},
        // A leading 0xFF erases the ID but keeps the request's checksum,
        // which can make the erased ID check.
        {"leading FF", {0xFF, 0xE2}, ok(), {at + hex(cat(ff31, {0x1F}))}},
        {"32 bytes", Bytes(32, 'B'), ok(), {at + hex(recordOf(b31))}},
        {"33 bytes", Bytes(33, 'C'), cc(0xC7)},
    };
    check<FakeEeprom>(cases, setChassisId);
    FakeEeprom failing;
    failing.failAt = chassis::recordOffset;
    EXPECT_EQ(setChassisId(kst1, failing), cc(0xC1));

    const Answer allOnes = ok(Bytes(31, 0xFF));
    Bytes badChecksum = recordOf(kst1);
    badChecksum[31] ^= 0x01;
    const std::pair<Bytes, Answer> records[] = {
        {recordOf(kst1), ok(cat(kst1, {0x00}))}, // terminated
        {recordOf(Bytes(31, 'Z')), ok(Bytes(31, 'Z'))},
        {Bytes(32, 0xFF), allOnes},
        {cat(ff31, {0x1F}), allOnes},
        {Bytes(32, 0x00), allOnes},
        {badChecksum, allOnes},
    };
    failing.put(chassis::recordOffset, recordOf(kst1));
    EXPECT_EQ(getChassisId({}, failing), allOnes); // a failed read
    failing.failAt.reset();
    for (const auto& [record, expected] : records)
    {
        failing.put(chassis::recordOffset, record);
        EXPECT_EQ(getChassisId(Bytes{0x01}, failing), expected) << hex(record);
    }
}

} // namespace kestrel::test::chassis_id_cases
