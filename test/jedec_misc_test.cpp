// The Misc command with its two subcommands (flash JEDEC ID, Wake-on-LAN)
// through the host's dispatcher, and the exported but unregistered PIROM
// and GARP handlers called by symbol, against sysfs files and the key/value
// store in the sandbox.
#include "provider.hpp"
#include "sandbox.hpp"

#include <ipmid/api.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using kestrel::test::Reply;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::IsEmpty;

namespace
{

constexpr ipmi::NetFn netFn = 0x3A;
constexpr ipmi::Cmd cmdMisc = 0xE3;

const fs::path jedec0 = "/sys/bus/spi/devices/spi0.0/spi-nor/jedec_id";
const fs::path jedec1 = "/sys/bus/spi/devices/spi0.1/spi-nor/jedec_id";
const fs::path pirom = "/sys/bus/i2c/devices/1-0050/eeprom";

using Bytes = std::vector<uint8_t>;

void writeFile(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

Bytes readBytes(const fs::path& path, std::size_t offset, std::size_t count)
{
    auto all = kestrel::test::readFile(path);
    return Bytes(all.begin() + offset, all.begin() + offset + count);
}

class MiscTest : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        using kestrel::test::providerSymbol;
        piromCmd = providerSymbol<ipmid_callback_t>("ipmiPiromCmd");
        garp = providerSymbol<ipmid_callback_t>("ipmiGarp");
        readJedecId =
            providerSymbol<int (*)(const char*, uint8_t*)>("read_jedec_id");
        ASSERT_NE(piromCmd, nullptr);
        ASSERT_NE(garp, nullptr);
        ASSERT_NE(readJedecId, nullptr);
    }

    void SetUp() override
    {
        fs::remove(jedec0);
        fs::remove(jedec1);
        writeFile(pirom, std::string(256, '\0'));
    }

    static Reply misc(const Bytes& data)
    {
        return kestrel::test::send(netFn, cmdMisc, data);
    }

    // A legacy handler called directly, as ipmid would with its buffer.
    static Reply call(ipmid_callback_t handler, Bytes request)
    {
        std::vector<uint8_t> response(1024, 0xEE);
        std::size_t length = request.size();
        Reply r;
        r.cc = handler(netFn, 0x00, request.data(), response.data(), &length,
                       nullptr);
        r.data.assign(response.begin(), response.begin() + length);
        return r;
    }

    static inline ipmid_callback_t piromCmd = nullptr;
    static inline ipmid_callback_t garp = nullptr;
    static inline int (*readJedecId)(const char*, uint8_t*) = nullptr;
};

TEST_F(MiscTest, JedecIdOfEitherFlash)
{
    writeFile(jedec0, "ef4019\n");
    writeFile(jedec1, "C22539");
    Reply first = misc({0x43});
    EXPECT_EQ(first.cc, 0x00);
    EXPECT_THAT(first.data, ElementsAre(0xEF, 0x40, 0x19));
    EXPECT_THAT(misc({0x43, 0x00}).data, ElementsAre(0xEF, 0x40, 0x19));
    EXPECT_THAT(misc({0x43, 0x01}).data, ElementsAre(0xC2, 0x25, 0x39));
}

TEST_F(MiscTest, UnreadableJedecIdAnswersUnspecifiedError)
{
    writeFile(jedec0, "ef40191\n");
    testing::internal::CaptureStderr();
    Reply tooLong = misc({0x43});
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(tooLong.cc, 0xFF);
    EXPECT_THAT(tooLong.data, IsEmpty());
    EXPECT_THAT(err, HasSubstr("Unexpected JEDEC ID length: 7\n"));

    testing::internal::CaptureStderr();
    Reply missing = misc({0x43, 0x01});
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(missing.cc, 0xFF);
    EXPECT_THAT(err, HasSubstr("Failed to open jedec_id file: No such file"));

    // Six characters that are not hex digits are no ID either.
    writeFile(jedec0, "ef40zz");
    EXPECT_EQ(misc({0x43}).cc, 0xFF);
    uint8_t id[3] = {1, 2, 3};
    EXPECT_EQ(readJedecId(jedec0.c_str(), id), 0);
    EXPECT_THAT(id, ElementsAre(1, 2, 3));
}

TEST_F(MiscTest, BadJedecSelectorsOpenNoFile)
{
    // The files are absent: opening one would print its failure.
    testing::internal::CaptureStderr();
    Reply index = misc({0x43, 0x02});
    Reply twoBytes = misc({0x43, 0x00, 0x00});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(index.cc, 0xCC);
    EXPECT_THAT(index.data, IsEmpty());
    EXPECT_EQ(twoBytes.cc, 0xCC);
}

TEST_F(MiscTest, WakeOnLanIsStoredAndReadWithExactLengths)
{
    Reply fresh = misc({0xB0, 0x01});
    EXPECT_EQ(fresh.cc, 0x00);
    EXPECT_THAT(fresh.data, ElementsAre(0x00));

    Reply set = misc({0xB0, 0x00, 0x01});
    EXPECT_EQ(set.cc, 0x00);
    EXPECT_THAT(set.data, IsEmpty());
    EXPECT_THAT(misc({0xB0, 0x01}).data, ElementsAre(0x01));
    misc({0xB0, 0x00, 0xFE});
    EXPECT_THAT(misc({0xB0, 0x01}).data, ElementsAre(0xFE));

    for (const Bytes& bad :
         {Bytes{0xB0}, Bytes{0xB0, 0x00}, Bytes{0xB0, 0x01, 0x00},
          Bytes{0xB0, 0x02, 0x01}, Bytes{0xB0, 0x00, 0x01, 0x02}})
    {
        Reply r = misc(bad);
        EXPECT_EQ(r.cc, 0xCC);
        EXPECT_THAT(r.data, IsEmpty());
    }
    EXPECT_THAT(misc({0xB0, 0x01}).data, ElementsAre(0xFE));
}

TEST_F(MiscTest, OtherSubcommandsAreRefused)
{
    for (const Bytes& request : {Bytes{0x44}, Bytes{0x00}, Bytes{0x42, 0x00}})
    {
        Reply r = misc(request);
        EXPECT_EQ(r.cc, 0xCC);
        EXPECT_THAT(r.data, IsEmpty());
    }
    EXPECT_EQ(misc({}).cc, 0xC7);
}

TEST_F(MiscTest, GarpIsIndependentOfWakeOnLan)
{
    misc({0xB0, 0x00, 0x00});
    EXPECT_THAT(call(garp, {0x00, 0x01}).data, ElementsAre(0x00));
    Reply set = call(garp, {0xAB, 0x00, 0x01});
    EXPECT_EQ(set.cc, 0x00);
    EXPECT_THAT(set.data, IsEmpty());
    Reply get = call(garp, {0x00, 0x01});
    EXPECT_EQ(get.cc, 0x00);
    EXPECT_THAT(get.data, ElementsAre(0x01));
    EXPECT_THAT(misc({0xB0, 0x01}).data, ElementsAre(0x00));

    EXPECT_EQ(call(garp, {0x00, 0x02}).cc, 0xC1);
    EXPECT_EQ(call(garp, {0x00}).cc, 0xC7);
    EXPECT_EQ(call(garp, {0x00, 0x00}).cc, 0xC7);
    EXPECT_THAT(call(garp, {0x00, 0x01}).data, ElementsAre(0x01));
}

TEST_F(MiscTest, PiromWritesOnlyTheUpperHalf)
{
    Bytes data(16);
    for (std::size_t i = 0; i < data.size(); ++i)
    {
        data[i] = static_cast<uint8_t>(0x30 + i);
    }
    Bytes low = {0x00, 0x00, 0x00, 0x7F, 0x01, 0x55};
    EXPECT_EQ(call(piromCmd, low).cc, 0xC1);
    EXPECT_THAT(readBytes(pirom, 0x7F, 1), ElementsAre(0x00));

    Bytes write = {0x00, 0x00, 0x00, 0x80, 0x10};
    write.insert(write.end(), data.begin(), data.end());
    Reply w = call(piromCmd, write);
    EXPECT_EQ(w.cc, 0x00);
    EXPECT_THAT(w.data, ElementsAre(0x00));
    EXPECT_THAT(readBytes(pirom, 0x80, 16), ElementsAreArray(data));

    Reply r = call(piromCmd, {0x00, 0x00, 0x01, 0x84, 0x04});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, ElementsAre(0x34, 0x35, 0x36, 0x37));
    // Reads may start anywhere.
    EXPECT_THAT(call(piromCmd, {0x00, 0x00, 0x01, 0x00, 0x02}).data,
                ElementsAre(0x00, 0x00));
}

TEST_F(MiscTest, PiromRefusalsTouchNothing)
{
    const Bytes refusedC1[] = {
        {0x00, 0x01, 0x01, 0x80, 0x01}, // byte 1 not 0x00
        {0x00, 0x00, 0x02, 0x80, 0x01}, // no such operation
        {0x00, 0x00, 0x00, 0x80, 0x81}, // write above 128 bytes
    };
    for (const Bytes& request : refusedC1)
    {
        Reply r = call(piromCmd, request);
        EXPECT_EQ(r.cc, 0xC1);
        EXPECT_THAT(r.data, IsEmpty());
    }
    // Short requests, and a write whose data is shorter than its count.
    EXPECT_EQ(call(piromCmd, {0x00, 0x00, 0x01, 0x80}).cc, 0xC7);
    EXPECT_EQ(call(piromCmd, {0x00, 0x00, 0x00, 0x80, 0x03, 0x01, 0x02}).cc,
              0xC7);
    EXPECT_THAT(readBytes(pirom, 0x80, 3), ElementsAre(0x00, 0x00, 0x00));

    // A count of 0 transfers nothing, and fails; so does a read past the end.
    EXPECT_EQ(call(piromCmd, {0x00, 0x00, 0x01, 0x80, 0x00}).cc, 0xFF);
    EXPECT_EQ(call(piromCmd, {0x00, 0x00, 0x00, 0x80, 0x00}).cc, 0xFF);
    writeFile(pirom, std::string(0x90, '\0'));
    EXPECT_EQ(call(piromCmd, {0x00, 0x00, 0x01, 0x8C, 0x08}).cc, 0xFF);
}

TEST_F(MiscTest, MissingPiromIsReportedAndLogged)
{
    fs::remove(pirom);
    auto mark = kestrel::test::journalMark();
    Reply r = call(piromCmd, {0x00, 0x00, 0x01, 0x80, 0x01});
    EXPECT_EQ(r.cc, 0x80);
    EXPECT_THAT(r.data, IsEmpty());
    auto entry =
        kestrel::test::waitForJournal("Unable to open PIROM EEPROM", mark);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ((*entry)["PRIORITY"], "3");
    EXPECT_FALSE(fs::exists(pirom));
}

} // namespace
