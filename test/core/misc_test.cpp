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
struct FakeJedec : IdFile, JedecLog, IdReader, Recorder
{
    Line line;

    Line firstLine(const std::string& path) override
    {
        calls.push_back(path);
        return line;
    }
    FAKE(void, openFailed, (int err), err);
    FAKE(void, readFailed, (int err), err);
    FAKE(void, unexpectedLength, (std::size_t length), length);
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
        {{read, "ef40191\n", 0}, std::nullopt, {"/id", "unexpectedLength 7"}},
        {{read, "ef40zz\n", 0}, std::nullopt, {"/id"}}, // silent
        {{readFailed, "", EIO}, std::nullopt, {"/id", "readFailed 5"}},
        {{openFailed, "", ENOENT}, std::nullopt, {"/id", "openFailed 2"}},
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
        {"no byte: device 0", {}, ok({1, 2, 3}), {"/spi0"}},
        {"device 1 unreadable", {0x01}, cc(0xFF), {"/spi1"}},
        {"past the list", {0x02}, cc(0xCC)},
        {"trailing", {0x00, 0x00}, cc(0xCC)},
    };
    check<FakeJedec>(cases, [](Request in, FakeJedec& reader) {
        static const char* const files[] = {"/spi0", "/spi1"};
        return jedecId(in, files, reader);
    });
}

/** A PIROM whose bytes read as zero; it opens, writes and reads as
 *  `answers` says. */
struct FakePirom : Pirom, PiromLog, Recorder
{
    FAKE(bool, open, (const std::string& path), path);
    FAKE(bool, write, (uint8_t at, std::span<const uint8_t> data), at,
         hex(data));
    FAKE(bool, read, (uint8_t at, std::span<uint8_t> into), at, into.size());
    FAKE(void, openFailed, ());
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
    const std::string open = "open /p",
                      full = "write 128 " + hex(Bytes(128, 0x30));
    const Case cases[] = {
        {"too short", {0x00, 0x00, 0x01, 0x80}, cc(0xC7)},
        {"byte 1 not 0", {0x00, 0x01, 0x01, 0x80, 0x01}, cc(0xC1)},
        {"no such operation", {0, 0, 0x02, 0x80, 1}, cc(0xC1), {open}},
        {"write below 0x80", write(0x7F, 1, 1), cc(0xC1), {open}},
        {"write of 0x81 bytes", write(0x80, 0x81, 0x81), cc(0xC1), {open}},
        {"write of 0x80 bytes", write(0x80, 0x80, 0x80), ok({0}), {open, full}},
        {"write short of its count", write(0x80, 3, 2), cc(0xC7), {open}},
        {"write, trailing", write(0xFF, 1, 3), ok({0}), {open, "write 255 30"}},
        {"write fails", write(0x80, 0, 0), cc(0xFF), {open, "write 128 "}},
        {"read, trailing",
         {9, 0, 1, 0x84, 2, 9},
         ok({0, 0}),
         {open, "read 132 2"}},
        {"read fails", {0, 0, 1, 0xFC, 8}, cc(0xFF), {open, "read 252 8"}},
    };
    FakePirom fake;
    fake.answers = {{open, "1"},
                    {"write", "1"},
                    {"write 128 ", "0"},
                    {"read", "1"},
                    {"read 252 8", "0"}};
    check(cases, pirom, fake);
    // The device is opened before the operation is looked at.
    const Case unavailable[] = {
        {"byte 1 not 0", {0x00, 0x01, 0x01, 0x80, 0x01}, cc(0xC1)},
        {"bad operation", {0, 0, 7, 0x80, 1}, cc(0x80), {open, "openFailed"}},
    };
    check<FakePirom>(unavailable, pirom);
}

struct FakeSettings : Settings, Recorder
{
    FAKE(long, get, (const char* s, const char* k, long fallback), s, k,
         fallback);
    FAKE(int, set, (const char* s, const char* k, long value), s, k, value);
};

TEST(GarpWol, Requests)
{
    const Case garps[] = {
        {"no operation", {0x00}, cc(0xC7)},
        {"set without value", {0x00, 0x00}, cc(0xC7)},
        {"set, byte 0 unused", {9, 0, 0xFE}, ok(), {"set GARP Enabled 254"}},
        {"set, trailing", {0, 0, 1, 9}, ok(), {"set GARP Enabled 1"}},
        {"get, trailing",
         {0x00, 0x01, 0x05},
         ok({0x07}),
         {"get GARP Enabled 0"}},
        {"other operation", {0x00, 0x02, 0x01}, cc(0xC1)},
    };
    // GARP 7 and Wake-on-LAN 0x1FF stored; every store fails unseen.
    FakeSettings stored;
    stored.answers = {{"get GARP Enabled 0", "7"},
                      {"get WakeOnLan Enabled 0", "0x1FF"},
                      {"set", "-5"}};
    check(garps, garp, stored);
    // Wake-on-LAN requests have exact lengths.
    const Case wols[] = {
        {"set without value", {0x00}, cc(0xCC)},
        {"set", {0x00, 0x01}, ok(), {"set WakeOnLan Enabled 1"}},
        {"set, trailing", {0x00, 0x01, 0x02}, cc(0xCC)},
        {"get: the low byte", {0x01}, ok({0xFF}), {"get WakeOnLan Enabled 0"}},
        {"get, trailing", {0x01, 0x00}, cc(0xCC)},
        {"other operation", {0x02, 0x01}, cc(0xCC)},
    };
    check(wols, wakeOnLan, stored);
}

struct FakeSubcommands : misc_cmd::Subcommands
{
    Strings calls;

    Answer jedecId(Request data) override
    {
        calls.push_back("jedec " + hex(data));
        return ok({0x01});
    }
    Answer wakeOnLan(Request data) override
    {
        calls.push_back("wol " + hex(data));
        return cc(0xC7);
    }
};

TEST(MiscCmd, HandsTheRestOfTheRequestToTheSubcommand)
{
    // Request: the subcommand, then its data.
    const Case cases[] = {
        {"JEDEC ID", {0x43}, ok({0x01}), {"jedec "}},
        {"JEDEC ID, data", {0x43, 0x01, 0x02}, ok({1}), {"jedec 0102"}},
        {"Wake-on-LAN", {0xB0, 0x01}, cc(0xC7), {"wol 01"}},
        {"0x42", {0x42, 0x00}, cc(0xCC)},
        {"0xB1", {0xB1, 0x00}, cc(0xCC)},
    };
    check<FakeSubcommands>(cases, [](Request in, FakeSubcommands& subs) {
        return misc_cmd::miscCmd(in[0], in.subspan(1), subs);
    });
}

} // namespace kestrel::test::misc_cases
