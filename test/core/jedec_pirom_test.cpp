// Flash JEDEC IDs and the PIROM EEPROM, on fake files.
#include "fakes.hpp"
#include "jedec_pirom.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using jedec_pirom::IdFile;
using jedec_pirom::JedecId;
using jedec_pirom::parseJedecId;
using jedec_pirom::readJedecId;
using testing::ElementsAre;
using testing::IsEmpty;

struct FakeIdFile : IdFile
{
    std::map<std::string, Line> lines;
    std::vector<std::string> opened;

    Line firstLine(const std::string& path) override
    {
        opened.push_back(path);
        auto found = lines.find(path);
        return found != lines.end() ? found->second
                                    : Line{Status::openFailed, {}, ENOENT};
    }
};

struct FakeJedecLog : jedec_pirom::JedecLog
{
    std::vector<std::string> lines;

    void openFailed(int err) override
    {
        lines.push_back("open " + std::to_string(err));
    }
    void readFailed(int err) override
    {
        lines.push_back("read " + std::to_string(err));
    }
    void unexpectedLength(std::size_t length) override
    {
        lines.push_back("length " + std::to_string(length));
    }
};

TEST(JedecId, ParsesSixHexDigitsOfEitherCase)
{
    EXPECT_EQ(parseJedecId("ef4019"), (JedecId{0xEF, 0x40, 0x19}));
    EXPECT_EQ(parseJedecId("C22539"), (JedecId{0xC2, 0x25, 0x39}));
    EXPECT_EQ(parseJedecId("09afAF"), (JedecId{0x09, 0xAF, 0xAF}));
    for (const char* bad :
         {"ef40zz", "g00000", "0x4019", "ef 019", "ef401", "ef40190", ""})
    {
        EXPECT_EQ(parseJedecId(bad), std::nullopt) << bad;
    }
}

TEST(JedecId, ReadsTheFirstLineAndReportsWhatFails)
{
    struct ReadCase
    {
        const char* name;
        IdFile::Line line;
        std::optional<JedecId> expected;
        std::vector<std::string> logged;
    };
    const ReadCase cases[] = {
        {"with newline",
         {IdFile::Status::read, "ef4019\n", 0},
         JedecId{0xEF, 0x40, 0x19},
         {}},
        {"without newline",
         {IdFile::Status::read, "ef4019", 0},
         JedecId{0xEF, 0x40, 0x19},
         {}},
        {"one digit too many",
         {IdFile::Status::read, "ef40191\n", 0},
         std::nullopt,
         {"length 7"}},
        {"carriage return counts",
         {IdFile::Status::read, "ef4019\r\n", 0},
         std::nullopt,
         {"length 7"}},
        {"empty line",
         {IdFile::Status::read, "\n", 0},
         std::nullopt,
         {"length 0"}},
        {"not hex: silent",
         {IdFile::Status::read, "ef40zz\n", 0},
         std::nullopt,
         {}},
        {"unreadable",
         {IdFile::Status::readFailed, {}, EIO},
         std::nullopt,
         {"read " + std::to_string(EIO)}},
    };
    for (const auto& c : cases)
    {
        FakeIdFile file;
        FakeJedecLog log;
        file.lines["/id"] = c.line;
        EXPECT_EQ(readJedecId("/id", file, log), c.expected) << c.name;
        EXPECT_EQ(log.lines, c.logged) << c.name;
    }

    FakeIdFile file;
    FakeJedecLog log;
    EXPECT_EQ(readJedecId("/missing", file, log), std::nullopt);
    EXPECT_THAT(log.lines, ElementsAre("open " + std::to_string(ENOENT)));
}

struct FakeIdReader : jedec_pirom::IdReader
{
    std::map<std::string, JedecId> ids;
    std::vector<std::string> read_;

    std::optional<JedecId> read(const std::string& path) override
    {
        read_.push_back(path);
        auto found = ids.find(path);
        return found != ids.end() ? std::optional(found->second) : std::nullopt;
    }
};

TEST(JedecId, SelectsTheDeviceFile)
{
    const char* const files[] = {"/spi0", "/spi1"};
    struct SelectCase
    {
        const char* name;
        Bytes request;
        Answer expected;
        std::vector<std::string> read;
    };
    const SelectCase cases[] = {
        {"no byte: device 0", {}, success({0xEF, 0x40, 0x19}), {"/spi0"}},
        {"device 0", {0x00}, success({0xEF, 0x40, 0x19}), {"/spi0"}},
        {"device 1 unreadable", {0x01}, failure(0xFF), {"/spi1"}},
        {"past the list", {0x02}, failure(0xCC), {}},
        {"0xFF", {0xFF}, failure(0xCC), {}},
        {"trailing", {0x00, 0x00}, failure(0xCC), {}},
    };
    for (const auto& c : cases)
    {
        FakeIdReader reader;
        reader.ids["/spi0"] = {0xEF, 0x40, 0x19};
        EXPECT_EQ(jedec_pirom::jedecId(c.request, files, reader), c.expected)
            << c.name;
        EXPECT_EQ(reader.read_, c.read) << c.name;
    }
}

/** A 256-byte PIROM image; a block past its end, or an empty block, fails
 *  as fread/fwrite of one block does. */
struct FakePirom : jedec_pirom::Pirom
{
    Bytes image = Bytes(256, 0x00);
    bool present = true;
    bool failWrite = false;
    std::vector<std::string> opened;
    std::vector<std::pair<uint8_t, Bytes>> writes;

    bool open(const std::string& path) override
    {
        opened.push_back(path);
        return present;
    }
    bool write(uint8_t offset, std::span<const uint8_t> data) override
    {
        if (failWrite || data.empty() || offset + data.size() > image.size())
        {
            return false;
        }
        std::copy(data.begin(), data.end(), image.begin() + offset);
        writes.emplace_back(offset, Bytes(data.begin(), data.end()));
        return true;
    }
    bool read(uint8_t offset, std::span<uint8_t> into) override
    {
        if (into.empty() || offset + into.size() > image.size())
        {
            return false;
        }
        std::copy_n(image.begin() + offset, into.size(), into.begin());
        return true;
    }
};

struct FakePiromLog : jedec_pirom::PiromLog
{
    int failures = 0;
    void openFailed() override
    {
        ++failures;
    }
};

Bytes payload(std::size_t length)
{
    Bytes data(length);
    for (std::size_t i = 0; i < length; ++i)
    {
        data[i] = static_cast<uint8_t>(0x30 + i);
    }
    return data;
}

Bytes writeRequest(uint8_t offset, uint8_t count, std::size_t dataBytes)
{
    Bytes request = {0x00, 0x00, 0x00, offset, count};
    Bytes data = payload(dataBytes);
    request.insert(request.end(), data.begin(), data.end());
    return request;
}

TEST(Pirom, Requests)
{
    struct PiromCase
    {
        const char* name;
        Bytes request;
        Answer expected;
        bool opens;
        std::vector<std::pair<uint8_t, Bytes>> writes;
    };
    const PiromCase cases[] = {
        {"empty", {}, failure(0xC7), false, {}},
        {"too short", {0x00, 0x00, 0x01, 0x80}, failure(0xC7), false, {}},
        {"byte 1 not 0",
         {0x00, 0x01, 0x01, 0x80, 0x01},
         failure(0xC1),
         false,
         {}},
        {"no such operation",
         {0x00, 0x00, 0x02, 0x80, 0x01},
         failure(0xC1),
         true,
         {}},
        {"write below the upper half",
         writeRequest(0x7F, 1, 1),
         failure(0xC1),
         true,
         {}},
        {"write of 0x81 bytes",
         writeRequest(0x80, 0x81, 0x81),
         failure(0xC1),
         true,
         {}},
        {"write data short of its count",
         writeRequest(0x80, 3, 2),
         failure(0xC7),
         true,
         {}},
        {"write at 0x80",
         writeRequest(0x80, 2, 2),
         success({0x00}),
         true,
         {{0x80, {0x30, 0x31}}}},
        {"write of 0x80 bytes",
         writeRequest(0x80, 0x80, 0x80),
         success({0x00}),
         true,
         {{0x80, payload(0x80)}}},
        {"write with trailing bytes",
         writeRequest(0xFF, 1, 3),
         success({0x00}),
         true,
         {{0xFF, {0x30}}}},
        {"write of nothing", writeRequest(0x80, 0, 0), failure(0xFF), true, {}},
        {"read",
         {0xAB, 0x00, 0x01, 0x00, 0x02},
         success({0x00, 0x00}),
         true,
         {}},
        {"read of nothing",
         {0x00, 0x00, 0x01, 0x80, 0x00},
         failure(0xFF),
         true,
         {}},
        {"read past the end",
         {0x00, 0x00, 0x01, 0xFC, 0x08},
         failure(0xFF),
         true,
         {}},
        {"read with trailing bytes",
         {0x00, 0x00, 0x01, 0xFF, 0x01, 0x09},
         success({0x00}),
         true,
         {}},
    };
    for (const auto& c : cases)
    {
        FakePirom pirom;
        FakePiromLog log;
        EXPECT_EQ(jedec_pirom::piromCmd(c.request, "/pirom", pirom, log),
                  c.expected)
            << c.name;
        EXPECT_EQ(pirom.opened.size(), c.opens ? 1u : 0u) << c.name;
        EXPECT_EQ(pirom.writes, c.writes) << c.name;
        EXPECT_EQ(log.failures, 0) << c.name;
    }
}

TEST(Pirom, ReadsBackWhatWasWritten)
{
    FakePirom pirom;
    FakePiromLog log;
    ASSERT_EQ(
        jedec_pirom::piromCmd(writeRequest(0x80, 16, 16), "/p", pirom, log),
        success({0x00}));
    EXPECT_EQ(jedec_pirom::piromCmd(Bytes{0x00, 0x00, 0x01, 0x84, 0x04}, "/p",
                                    pirom, log),
              success({0x34, 0x35, 0x36, 0x37}));
    EXPECT_THAT(pirom.opened, ElementsAre("/p", "/p"));
}

TEST(Pirom, UnavailableDeviceIsLoggedBeforeAnyCheckOfTheOperation)
{
    for (const Bytes& request :
         {Bytes{0x00, 0x00, 0x01, 0x80, 0x01}, writeRequest(0x00, 1, 1),
          Bytes{0x00, 0x00, 0x07, 0x80, 0x01}})
    {
        FakePirom pirom;
        FakePiromLog log;
        pirom.present = false;
        EXPECT_EQ(jedec_pirom::piromCmd(request, "/pirom", pirom, log),
                  failure(0x80));
        EXPECT_THAT(pirom.opened, ElementsAre("/pirom"));
        EXPECT_EQ(log.failures, 1);
        EXPECT_THAT(pirom.writes, IsEmpty());
    }
}

TEST(Pirom, FailedWriteAnswersUnspecifiedError)
{
    FakePirom pirom;
    FakePiromLog log;
    pirom.failWrite = true;
    EXPECT_EQ(
        jedec_pirom::piromCmd(writeRequest(0x80, 1, 1), "/pirom", pirom, log),
        failure(0xFF));
    EXPECT_THAT(pirom.writes, IsEmpty());
}

} // namespace
} // namespace kestrel::test
