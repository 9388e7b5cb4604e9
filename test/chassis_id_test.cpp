// Set and Get Chassis ID through the dispatcher, on the sandbox's EEPROM image.
#include "chassis_record.hpp"
#include "provider.hpp"

#include <gtest/gtest.h>

using namespace kestrel::test;

TEST(ChassisId, SetWritesTheRecordThatGetReads)
{
    // The record at its offset: the ID, zero-padded, then the checksum.
    Bytes written = {'A', 'B', 'C'};
    EXPECT_EQ(ask(0xAA, written), Bytes{0x00});
    written.resize(31, 0x00);
    written.push_back(0x3A);
    EXPECT_EQ(readEeprom(kestrel::chassis::recordOffset, 32), written);
    EXPECT_EQ(ask(0xAB), (Bytes{0, 'A', 'B', 'C', 0}));
}
