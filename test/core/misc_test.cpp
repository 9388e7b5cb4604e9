// The Misc command and what it reaches: flash JEDEC IDs, the PIROM EEPROM
// and the GARP and Wake-on-LAN settings, on fake files and a fake store.
#include "fakes.hpp"
#include "garp_wol.hpp"
#include "jedec_pirom.hpp"
#include "misc_cmd.hpp"

namespace kestrel::test::misc_cases
{

using namespace jedec_pirom;
using namespace garp_wol;

/** A jedec_id file whose first line is `line`, the journal, and the
 *  reader of /spi0 (ID 01 02 03; other files cannot be read). */
struct FakeJedec : IdFile, JedecLog, IdReader
{
    Line line;
    Strings calls;

    Line firstLine(const std::string& path) override
    {
        calls.push_back(path);
        return line;
    }
    void openFailed(int err) override
    {
        calls.push_back("open failed " + std::to_string(err));
    }
    void readFailed(int err) override
    {
        calls.push_back("read failed " + std::to_string(err));
    }
    void unexpectedLength(std::size_t length) override
    {
        calls.push_back("length " + std::to_string(length));
    }
    std::optional<JedecId> read(const std::string& path) override
    {
        calls.push_back(path);
        return path == "/spi0" ? std::optional(JedecId{1, 2, 3}) : std::nullopt;
    }
};

TEST(JedecId, ReadsSixHexDigitsFromTheFirstLine)
{
    using enum IdFile::Status;
    const JedecId id = {0xEF, 0x4A, 0x19};
    const std::tuple<IdFile::Line, std::optional<JedecId>, Strings> cases[] = {
        {{read, "ef4A19\n", 0}, id, {"/id"}},
        {{read, "ef40191\n", 0}, std::nullopt, {"/id", "length 7"}},
        {{read, "ef40zz\n", 0}, std::nullopt, {"/id"}}, // silent
        {{readFailed, "", EIO}, std::nullopt, {"/id", "read failed 5"}},
        {{openFailed, "", ENOENT}, std::nullopt, {"/id", "open failed 2"}},
    };
    for (const auto& [line, expected, calls] : cases)
    {
        FakeJedec file;
        file.line = line;
        EXPECT_EQ(readJedecId("/id", file, file), expected) << line.text;
        EXPECT_EQ(file.calls, calls) << line.text;
    }
}

TEST(JedecId, SelectsTheDeviceFile)
{
    const Case cases[] = {
        {"no byte: device 0", {}, success({1, 2, 3}), {"/spi0"}},
        {"device 1 unreadable", {0x01}, failure(0xFF), {"/spi1"}},
        {"past the list", {0x02}, failure(0xCC)},
        {"trailing", {0x00, 0x00}, failure(0xCC)},
    };
    check<FakeJedec>(cases, [](Request in, FakeJedec& reader) {
        static const char* const files[] = {"/spi0", "/spi1"};
        return jedecId(in, files, reader);
    });
}

/** A 256-byte PIROM whose bytes read as zero; like fread and fwrite of one
 *  block, an empty block or one past the end fails. */
struct FakePirom : Pirom, PiromLog
{
    bool present = true;
    bool failWrite = false;
    Strings calls;

    bool open(const std::string& path) override
    {
        return present && path == "/p";
    }
    bool write(uint8_t offset, std::span<const uint8_t> data) override
    {
        calls.push_back("write " + hex(Bytes{offset}) + ":" + hex(data));
        return !failWrite && !data.empty() && offset + data.size() <= 256;
    }
    bool read(uint8_t offset, std::span<uint8_t> into) override
    {
        calls.push_back("read " + hex(Bytes{offset}) + " " +
                        std::to_string(into.size()));
        return !into.empty() && offset + into.size() <= 256;
    }
    void openFailed() override
    {
        calls.emplace_back("open failed");
    }
};

// A write request of `count` bytes at `offset`, carrying `data` bytes.
Bytes write(uint8_t offset, uint8_t count, std::size_t data)
{
    Bytes request = {0x00, 0x00, 0x00, offset, count};
    request.resize(5 + data, 0x30);
    return request;
}

Answer pirom(Request in, FakePirom& p)
{
    return piromCmd(in, "/p", p, p);
}

TEST(Pirom, Requests)
{
    const std::string full = "write 80:" + hex(Bytes(0x80, 0x30));
    const Case cases[] = {
        {"too short", {0x00, 0x00, 0x01, 0x80}, failure(0xC7)},
        {"byte 1 not 0", {0x00, 0x01, 0x01, 0x80, 0x01}, failure(0xC1)},
        {"no such operation", {0, 0, 0x02, 0x80, 1}, failure(0xC1)},
        {"write below 0x80", write(0x7F, 1, 1), failure(0xC1)},
        {"write of 0x81 bytes", write(0x80, 0x81, 0x81), failure(0xC1)},
        {"write of 0x80 bytes", write(0x80, 0x80, 0x80), success({0}), {full}},
        {"write short of its count", write(0x80, 3, 2), failure(0xC7)},
        {"write, trailing", write(0xFF, 1, 3), success({0}), {"write ff:30"}},
        {"write of nothing", write(0x80, 0, 0), failure(0xFF), {"write 80:"}},
        {"read, trailing",
         {9, 0, 1, 0x84, 2, 9},
         success({0, 0}),
         {"read 84 2"}},
        {"read past the end", {0, 0, 1, 0xFC, 8}, failure(0xFF), {"read fc 8"}},
    };
    check<FakePirom>(cases, pirom);
    // The device is opened before the operation is looked at.
    FakePirom absent;
    absent.present = false;
    const Case unavailable[] = {
        {"byte 1 not 0", {0x00, 0x01, 0x01, 0x80, 0x01}, failure(0xC1)},
        {"bad operation", {0, 0, 7, 0x80, 1}, failure(0x80), {"open failed"}},
    };
    check(unavailable, pirom, absent);
    FakePirom failing;
    failing.failWrite = true;
    EXPECT_EQ(pirom(write(0x80, 1, 1), failing), failure(0xFF));
}

/** GARP 7 and Wake-on-LAN 0x1FF stored; every store fails unseen. */
struct FakeSettings : Settings
{
    std::map<std::string, long> values = {{"GARP/Enabled", 7},
                                          {"WakeOnLan/Enabled", 0x1FF}};
    Strings calls; // "section/key=value"

    long get(const char* section, const char* key, long fallback) override
    {
        auto found = values.find(std::string(section) + "/" + key);
        return found != values.end() ? found->second : fallback;
    }
    int set(const char* section, const char* key, long value) override
    {
        calls.push_back(std::string(section) + "/" + key + "=" +
                        std::to_string(value));
        return -EIO;
    }
};

TEST(GarpWol, Requests)
{
    const Case garps[] = {
        {"no operation", {0x00}, failure(0xC7)},
        {"set without value", {0x00, 0x00}, failure(0xC7)},
        {"set, byte 0 unused", {9, 0, 0xFE}, success(), {"GARP/Enabled=254"}},
        {"set, trailing", {0, 0, 1, 9}, success(), {"GARP/Enabled=1"}},
        {"get, trailing", {0x00, 0x01, 0x05}, success({0x07})},
        {"other operation", {0x00, 0x02, 0x01}, failure(0xC1)},
    };
    check<FakeSettings>(garps, garp);
    // Wake-on-LAN requests have exact lengths.
    const Case wols[] = {
        {"set without value", {0x00}, failure(0xCC)},
        {"set", {0x00, 0x01}, success(), {"WakeOnLan/Enabled=1"}},
        {"set, trailing", {0x00, 0x01, 0x02}, failure(0xCC)},
        {"get: the low byte", {0x01}, success({0xFF})},
        {"get, trailing", {0x01, 0x00}, failure(0xCC)},
        {"other operation", {0x02, 0x01}, failure(0xCC)},
    };
    check<FakeSettings>(wols, wakeOnLan);
    FakeSettings unset;
    unset.values.clear();
    EXPECT_EQ(garp(Bytes{0x00, 0x01}, unset), success({0x00}));
    EXPECT_EQ(wakeOnLan(Bytes{0x01}, unset), success({0x00}));
}

struct FakeSubcommands : misc_cmd::Subcommands
{
    Strings calls;

    Answer jedecId(Request data) override
    {
        calls.push_back("jedec " + hex(data));
        return success({0x01});
    }
    Answer wakeOnLan(Request data) override
    {
        calls.push_back("wol " + hex(data));
        return failure(0xC7);
    }
};

TEST(MiscCmd, HandsTheRestOfTheRequestToTheSubcommand)
{
    // Request: the subcommand, then its data.
    const Case cases[] = {
        {"JEDEC ID", {0x43}, success({0x01}), {"jedec "}},
        {"JEDEC ID, data", {0x43, 0x01, 0x02}, success({1}), {"jedec 0102"}},
        {"Wake-on-LAN", {0xB0, 0x01}, failure(0xC7), {"wol 01"}},
        {"0x42", {0x42, 0x00}, failure(0xCC)},
        {"0xB1", {0xB1, 0x00}, failure(0xCC)},
    };
    check<FakeSubcommands>(cases, [](Request in, FakeSubcommands& subs) {
        return misc_cmd::miscCmd(in[0], in.subspan(1), subs);
    });
}

} // namespace kestrel::test::misc_cases
