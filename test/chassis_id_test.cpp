// Set and Get Chassis ID through the dispatcher, on the sandbox's EEPROM image.
#include "chassis_record.hpp"
#include "provider.hpp"

#include <sys/mount.h>

#include <filesystem>

#include <gtest/gtest.h>

using namespace kestrel::test;

namespace
{

// `head`, then `fill` up to the checksum byte.
Bytes record(Bytes head, uint8_t fill, uint8_t checksum)
{
    head.resize(31, fill);
    head.push_back(checksum);
    return head;
}

TEST(ChassisId, SetWritesTheRecordThatGetReadsOrAnswersC1)
{
    const Bytes abc = {'A', 'B', 'C'};
    Bytes allOnes(32, 0xFF);
    allOnes[0] = 0x00;
    // Request, the record written, the Get answer.
    const std::tuple<Bytes, Bytes, Bytes> rows[] = {
        {abc, record(abc, 0, 0x3A), {0, 'A', 'B', 'C', 0}},
        // A leading 0xFF erases the ID but keeps the request's checksum,
        // which can make the erased ID check.
        {{0xFF, 0x01, 0x02}, record({}, 0xFF, 0xFE), allOnes},
        {{0xFF, 0xE2}, record({}, 0xFF, 0x1F), allOnes},
    };
    for (const auto& [request, written, get] : rows)
    {
        EXPECT_EQ(ask(0xAA, request), Bytes{0x00});
        EXPECT_EQ(readEeprom(kestrel::chassis::recordOffset, 32), written);
        EXPECT_EQ(ask(0xAB), get);
    }
    EXPECT_EQ(ask(0xAA, Bytes(33, 'Q')), Bytes{0xC7});

    // A read-only EEPROM fails the write.
    auto dir = std::filesystem::path(EEPROM_PATH).parent_path();
    ASSERT_EQ(::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(::mount(nullptr, dir.c_str(), nullptr,
                      MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr),
              0);
    auto r = ask(0xAA, {'R', 'O'});
    ::umount(dir.c_str());
    EXPECT_EQ(r, Bytes{0xC1});
}

} // namespace
