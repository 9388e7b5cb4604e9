// The Misc command, flash JEDEC IDs, the PIROM, GARP and Wake-on-LAN.
#include "fakes.hpp"
#include "garp_wol.hpp"
#include "jedec_pirom.hpp"
#include "misc_cmd.hpp"

namespace kestrel::test::misc_cases
{

using namespace jedec_pirom;
using namespace garp_wol;

/** A jedec_id file whose first line is `line`, the journal, and a reader
 *  of the files `answers` names (ID 01 02 03). */
struct FakeJedec : IdFile, JedecLog, IdReader, Recorder
{
    Line line;

    Line firstLine(const std::string& path) override
    {
        return record<void>("firstLine", path), line;
    }
    FAKE(void, openFailed, (int err), err);
    FAKE(void, readFailed, (int err), err);
    FAKE(void, unexpectedLength, (std::size_t length), length);
    std::optional<JedecId> read(const std::string& path) override
    {
        return record<bool>("read", path) ? JedecId{1, 2, 3}
                                          : std::optional<JedecId>();
    }
};

/** A PIROM whose bytes read as zero. */
struct FakePirom : Pirom, PiromLog, Recorder
{
    FAKE(bool, open, (const std::string& path), path);
    FAKE(bool, write, (uint8_t at, std::span<const uint8_t> d), at, hex(d));
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

struct FakeSettings : Settings, Recorder
{
    FAKE(long, get, (const char* s, const char* k, long def), s, k, def);
    FAKE(int, set, (const char* s, const char* k, long value), s, k, value);
};

struct FakeSubcommands : misc_cmd::Subcommands, Recorder
{
    FAKE(Answer, jedecId, (Request data), hex(data));
    FAKE(Answer, wakeOnLan, (Request data), hex(data));
};

TEST(Misc, JedecIdPiromGarpWakeOnLanAndTheSubcommands)
{
    using enum IdFile::Status;
    const std::string id = "firstLine /id";
    const std::tuple<IdFile::Line, std::optional<JedecId>, Strings> lines[] = {
        {{read, "ef4A19\n", 0}, JedecId{0xEF, 0x4A, 0x19}, {id}},
        {{read, "ef40191\n", 0}, std::nullopt, {id, "unexpectedLength 7"}},
        {{read, "ef40zz\n", 0}, std::nullopt, {id}}, // silent
        {{readFailed, "", EIO}, std::nullopt, {id, "readFailed 5"}},
        {{openFailed, "", ENOENT}, std::nullopt, {id, "openFailed 2"}},
    };
    for (const auto& [line, expected, calls] : lines)
    {
        FakeJedec file;
        file.line = line;
        EXPECT_EQ(readJedecId("/id", file, file), expected) << line.text;
        EXPECT_EQ(file.calls, calls) << line.text;
    }
    const Case devices[] = {
        {"no byte: device 0", {}, ok({1, 2, 3}), {"read /spi0"}},
        {"device 1 unreadable", {0x01}, cc(0xFF), {"read /spi1"}},
        {"past the list", {0x02}, cc(0xCC)},
        {"trailing", {0x00, 0x00}, cc(0xCC)},
    };
    auto select = [](Request in, auto& fake) {
        static const char* const files[] = {"/spi0", "/spi1"};
        return jedecId(in, files, fake);
    };
    FakeJedec reader;
    reader.answers = {{"read /spi0", "1"}};
    check(devices, select, reader);

    auto pirom = [](Request in, auto& p) { return piromCmd(in, "/p", p, p); };
    const std::string open = "open /p", w80 = "write 128 ";
    const std::string full = w80 + hex(Bytes(0x80, 0x30));
    const Case piroms[] = {
        {"too short", {0x00, 0x00, 0x01, 0x80}, cc(0xC7)},
        {"byte 1 not 0", {0x00, 0x01, 0x01, 0x80, 0x01}, cc(0xC1)},
        {"operation 2", {0, 0, 0x02, 0x80, 1}, cc(0xC1), {open}},
        {"below 0x80", write(0x7F, 1, 1), cc(0xC1), {open}},
        {"0x81 bytes", write(0x80, 0x81, 0x81), cc(0xC1), {open}},
        {"0x80 bytes", write(0x80, 0x80, 0x80), ok({0}), {open, full}},
        {"short of its count", write(0x80, 3, 2), cc(0xC7), {open}},
        {"trailing", write(0xFF, 1, 3), ok({0}), {open, "write 255 30"}},
        {"write fails", write(0x80, 0, 0), cc(0xFF), {open, w80}},
        {"read", {9, 0, 1, 0x84, 2, 9}, ok({0, 0}), {open, "read 132 2"}},
        {"read fails", {0, 0, 1, 0xFC, 8}, cc(0xFF), {open, "read 252 8"}},
    };
    FakePirom fake;
    fake.answers = {{open, "1"}, {"write", "1"}, {"read", "1"}};
    fake.answers.insert({{w80, "0"}, {"read 252 8", "0"}});
    check(piroms, pirom, fake);
    // The device is opened before the operation is looked at.
    const Case unavailable[] = {
        {"operation 7", {0, 0, 7, 0x80, 1}, cc(0x80), {open, "openFailed"}},
    };
    check<FakePirom>(unavailable, pirom);

    const std::string garpSet = "set GARP Enabled ";
    const Case garps[] = {
        {"no operation", {0x00}, cc(0xC7)},
        {"set, no value", {0x00, 0x00}, cc(0xC7)},
        {"set, byte 0 unused", {9, 0, 0xFE}, ok(), {garpSet + "254"}},
        {"set, trailing", {0, 0, 1, 9}, ok(), {garpSet + "1"}},
        {"get, trailing", {0, 1, 5}, ok({0xFF}), {"get GARP Enabled 0"}},
        {"operation 2", {0x00, 0x02, 0x01}, cc(0xC1)},
    };
    FakeSettings stored; // 0x1FF stored; every store fails unseen
    stored.answers = {{"get", "0x1FF"}, {"set", "-5"}};
    check(garps, garp, stored);
    // Wake-on-LAN requests have exact lengths.
    const Case wols[] = {
        {"set, no value", {0x00}, cc(0xCC)},
        {"set", {0x00, 0x01}, ok(), {"set WakeOnLan Enabled 1"}},
        {"set, trailing", {0x00, 0x01, 0x02}, cc(0xCC)},
        {"get", {0x01}, ok({0xFF}), {"get WakeOnLan Enabled 0"}},
        {"get, trailing", {0x01, 0x00}, cc(0xCC)},
        {"operation 2", {0x02, 0x01}, cc(0xCC)},
    };
    check(wols, wakeOnLan, stored);

    const Case subcommands[] = {
        {"JEDEC ID, data", {0x43, 0x01, 0x02}, ok(), {"jedecId 0102"}},
        {"Wake-on-LAN", {0xB0, 0x01}, cc(0xC7), {"wakeOnLan 01"}},
        {"0x42", {0x42, 0x00}, cc(0xCC)},
        {"0xB1", {0xB1, 0x00}, cc(0xCC)},
    };
    FakeSubcommands subs;
    subs.answers = {{"wakeOnLan", "0xC7"}};
    auto misc = [](Request in, auto& s) {
        return misc_cmd::miscCmd(in[0], in.subspan(1), s);
    };
    check(subcommands, misc, subs);
}

} // namespace kestrel::test::misc_cases
