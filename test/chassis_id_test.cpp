// Set and Get Chassis ID through the host's dispatcher, against the board
// EEPROM image of the sandbox.
#include "chassis_record.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <sys/mount.h>

#include <filesystem>
#include <numeric>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using kestrel::test::Reply;
using testing::ElementsAreArray;

namespace
{

constexpr ipmi::NetFn netFn = 0x3A;
constexpr ipmi::Cmd cmdSet = 0xAA;
constexpr ipmi::Cmd cmdGet = 0xAB;

std::vector<uint8_t> bytes(const std::string& s)
{
    return {s.begin(), s.end()};
}

class ChassisIdTest : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    }

    static Reply send(ipmi::Cmd cmd, const std::vector<uint8_t>& data = {})
    {
        return kestrel::test::send(netFn, cmd, data);
    }

    static std::vector<uint8_t> record()
    {
        return kestrel::test::readEeprom(kestrel::chassis::recordOffset, 32);
    }

    static void writeRecord(const std::vector<uint8_t>& rec)
    {
        kestrel::test::writeEeprom(kestrel::chassis::recordOffset, rec);
    }
};

TEST_F(ChassisIdTest, ShortIdIsPaddedChecksummedAndReadBackTerminated)
{
    Reply r = send(cmdSet, bytes("ABC"));
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_TRUE(r.data.empty());

    std::vector<uint8_t> expected(32, 0x00);
    expected[0] = 'A';
    expected[1] = 'B';
    expected[2] = 'C';
    expected[31] = 0x3A;
    EXPECT_EQ(record(), expected);

    r = send(cmdGet);
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_EQ(r.data, (std::vector<uint8_t>{'A', 'B', 'C', 0x00}));
}

TEST_F(ChassisIdTest, EmptyRequestErasesTheId)
{
    send(cmdSet, bytes("XY"));
    EXPECT_EQ(send(cmdSet).cc, 0x00);
    EXPECT_EQ(record(), std::vector<uint8_t>(32, 0xFF));
    EXPECT_EQ(send(cmdGet).data, std::vector<uint8_t>(31, 0xFF));
}

TEST_F(ChassisIdTest, FullLengthIdsAndTheThirtySecondByte)
{
    std::string id31(31, 'K');
    send(cmdSet, bytes(id31));
    EXPECT_EQ(send(cmdGet).data, bytes(id31));

    // A 32nd byte gives way to the checksum.
    auto req = bytes(id31 + "Z");
    EXPECT_EQ(send(cmdSet, req).cc, 0x00);
    auto rec = record();
    EXPECT_EQ(rec[31], static_cast<uint8_t>(0x100 - (31 * 'K') % 256));
    EXPECT_EQ(send(cmdGet).data, bytes(id31));

    // More than the record holds: refused, nothing written.
    send(cmdSet, bytes("KEEP"));
    auto before = record();
    EXPECT_EQ(send(cmdSet, std::vector<uint8_t>(33, 'Q')).cc, 0xC7);
    EXPECT_EQ(record(), before);
}

TEST_F(ChassisIdTest, LeadingFfErasesButKeepsTheRequestChecksum)
{
    std::vector<uint8_t> req{0xFF, 0x01, 0x02};
    EXPECT_EQ(send(cmdSet, req).cc, 0x00);
    auto rec = record();
    EXPECT_EQ(std::vector<uint8_t>(rec.begin(), rec.begin() + 31),
              std::vector<uint8_t>(31, 0xFF));
    EXPECT_EQ(rec[31], static_cast<uint8_t>(0x100 - 0x102 % 256));
    EXPECT_EQ(send(cmdGet).data, std::vector<uint8_t>(31, 0xFF));

    // The one checksum that makes 31 bytes of 0xFF a valid ID: 0x1F.
    std::vector<uint8_t> magic{0xFF, 0xE2};
    send(cmdSet, magic);
    EXPECT_EQ(record()[31], 0x1F);
    EXPECT_EQ(send(cmdGet).data, std::vector<uint8_t>(31, 0xFF));
}

TEST_F(ChassisIdTest, UnsetAndCorruptRecordsReadAsFf)
{
    std::vector<uint8_t> unset(32, 0x00);
    unset[1] = 'A';
    unset[31] = 0xBF;
    writeRecord(unset);
    EXPECT_EQ(send(cmdGet).data, std::vector<uint8_t>(31, 0xFF));

    send(cmdSet, bytes("AB"));
    auto rec = record();
    rec[31] ^= 0x01;
    writeRecord(rec);
    EXPECT_EQ(send(cmdGet).data, std::vector<uint8_t>(31, 0xFF));
}

TEST_F(ChassisIdTest, FailedEepromWriteAnswersC1)
{
    fs::path dir = fs::path(EEPROM_PATH).parent_path();
    ASSERT_EQ(::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(::mount(nullptr, dir.c_str(), nullptr,
                      MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr),
              0);
    Reply r = send(cmdSet, bytes("RO"));
    ::umount(dir.c_str());
    EXPECT_EQ(r.cc, 0xC1);
    EXPECT_TRUE(r.data.empty());
}

TEST(ChassisRecord, DecodeFollowsTheValidityRule)
{
    using kestrel::chassis::decodeRecord;
    using kestrel::chassis::Record;
    using kestrel::chassis::RecordState;

    Record erased;
    erased.fill(0xFF);
    EXPECT_EQ(decodeRecord(erased).state, RecordState::invalid);

    // "AB", then anything: the bytes after the terminator are not summed.
    Record ab;
    ab.fill(0x55);
    ab[0] = 'A';
    ab[1] = 'B';
    ab[2] = 0x00;
    ab[31] = 0x7D;
    auto decoded = decodeRecord(ab);
    EXPECT_EQ(decoded.state, RecordState::valid);
    EXPECT_EQ(decoded.id, "AB");

    Record unset{};
    unset[31] = 0x12;
    EXPECT_EQ(decodeRecord(unset).state, RecordState::unset);
}

} // namespace
