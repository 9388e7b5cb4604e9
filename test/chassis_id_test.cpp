// Set and Get Chassis ID through the host's dispatcher, against the board
// EEPROM image of the sandbox.
#include "chassis_record.hpp"
#include "provider.hpp"

#include <sys/mount.h>

#include <filesystem>

#include <gtest/gtest.h>

using kestrel::test::Bytes;
using kestrel::test::send;

namespace
{

// `head`, then `fill` up to the checksum byte.
Bytes record(Bytes head, uint8_t fill, uint8_t checksum)
{
    head.resize(31, fill);
    head.push_back(checksum);
    return head;
}

Bytes stored()
{
    return kestrel::test::readEeprom(kestrel::chassis::recordOffset, 32);
}

TEST(ChassisId, SetWritesTheRecordThatGetReadsOrAnswersC1)
{
    ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    const Bytes allOnes(31, 0xFF);
    // Request, the record written, the Get answer.
    const std::tuple<Bytes, Bytes, Bytes> rows[] = {
        {{'A', 'B', 'C'}, record({'A', 'B', 'C'}, 0, 0x3A), {'A', 'B', 'C', 0}},
        {{}, Bytes(32, 0xFF), allOnes},
        // A leading 0xFF erases the ID but keeps the request's checksum,
        // which can make the erased ID check.
        {{0xFF, 0x01, 0x02}, record({}, 0xFF, 0xFE), allOnes},
        {{0xFF, 0xE2}, record({}, 0xFF, 0x1F), allOnes},
    };
    for (const auto& [request, written, get] : rows)
    {
        auto r = send(0x3A, 0xAA, request);
        EXPECT_EQ(r.cc, 0x00);
        EXPECT_TRUE(r.data.empty());
        EXPECT_EQ(stored(), written);
        r = send(0x3A, 0xAB);
        EXPECT_EQ(r.cc, 0x00);
        EXPECT_EQ(r.data, get);
    }
    EXPECT_EQ(send(0x3A, 0xAA, Bytes(33, 'Q')).cc, 0xC7);

    // A read-only EEPROM fails the write.
    auto dir = std::filesystem::path(EEPROM_PATH).parent_path();
    ASSERT_EQ(::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(::mount(nullptr, dir.c_str(), nullptr,
                      MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr),
              0);
    auto r = send(0x3A, 0xAA, {'R', 'O'});
    ::umount(dir.c_str());
    EXPECT_EQ(r.cc, 0xC1);
    EXPECT_TRUE(r.data.empty());
}

} // namespace
