// Firmware version records and the BIOS version strings.
#include "fakes.hpp"
#include "fw_version.hpp"

namespace kestrel::test::fw_version_cases
{

using namespace fw_version;

Bytes padded(Bytes head)
{
    head.resize(recordSize, 0x00);
    return head;
}

/** The record table, and a store that loads what was saved unless the
 *  answer to "load" is an error. */
struct FakeFw : VersionStore, BiosVersion, Recorder
{
    std::array<uint8_t, RecordTable::extent> table{};
    std::map<uint8_t, VersionRecord> records;

    int load(uint8_t index, VersionRecord& r) override
    {
        int rc = record<int>("load", index);
        r = rc == 0 && records.contains(index) ? records[index] : r;
        return rc;
    }
    int save(uint8_t index, const VersionRecord& r) override
    {
        records[index] = r;
        return record<int>("save", index);
    }
    FAKE(void, publish, (const std::string& version), version);
    Bytes entry(uint8_t index) const
    {
        return {table.begin() + 16 * index, table.begin() + 16 * (index + 1)};
    }
};

TEST(FwVersion, StringsRevRecordsAndBiosFwInfo)
{
    // A record: major, minor, two letters, build; 0x00 ends the text.
    const std::pair<VersionRecord, const char*> versions[] = {
        {{0x01, 0x05}, "1.05"},
        {{0x01, 0x05, 0x00, 0x00, 0x03}, "1.05.03"},
        {{0x02, 0x10, 'A', 'B', 0x10}, "2.16.AB16"},
        {{0x01, 0x02, 0x00, 'Y', 0x04}, "1.02."},
    };
    for (const auto& [record, text] : versions)
    {
        EXPECT_EQ(biosVersionString(record), text);
    }
    EXPECT_EQ(biosFwInfoString(0x01, 0x02, 0x1A, 0x00), "L2.1a");
    EXPECT_EQ(biosFwInfoString(0x00, 0x03, 0x05, 0x62), "P3.05b");
    EXPECT_EQ(biosFwInfoString(0x02, 0xFF, 0xFF, 0xFF), "P255.ff");

    auto set = [](Request in, auto& fw) {
        return setRevRecord(in, fw.table, fw, fw);
    };
    const std::string bios = "publish 2.10.AB07";
    const Case cases[] = {
        {"empty", {}, cc(0xC7)},
        {"17 bytes", cat({0x02}, Bytes(17, 0x01)), cc(0xC7)},
        {"16 bytes", cat({0x1C}, Bytes(16, 0x5A)), ok({0}), {"save 28"}},
        {"index past the last", {0x1D, 0x01}, cc(0xC1)},
        {"BIOS", {0, 2, 10, 'A', 'B', 7}, ok({0}), {bios, "save 0"}},
        {"index alone", {0x05}, ok({0}), {"save 5"}},
        {"get, empty", {}, cc(0xC7)},
        {"get, trailing", {0x07, 0x77}, ok(padded({1, 2})), {"load 7"}},
        {"get the last", {0x1C}, ok(padded({})), {"load 28"}},
        {"get past the last", {0x1D}, cc(0xC1)},
    };
    FakeFw stored;
    stored.records[7] = {0x01, 0x02};
    check(cases, set, stored,
          [](Request in, auto& fw) { return getRevRecord(in, fw); });

    FakeFw fw;
    fw.table.fill(0x11);
    ASSERT_EQ(set(Bytes{0x07, 0x01, 0x02}, fw), ok({0x00}));
    EXPECT_EQ(fw.entry(7), padded({0x01, 0x02}));
    EXPECT_EQ(fw.entry(8), Bytes(16, 0x11));
    // A failed publish keeps the entry but saves nothing.
    fw.answers = {{"publish", "throw"}};
    EXPECT_THROW(set(Bytes{0x00, 0x03}, fw), BusFailure);
    EXPECT_EQ(fw.entry(0), padded({0x03}));
    // Store failures are not reported: zeroes for a failed load.
    fw.answers = {{"load", "-5"}, {"save", "-5"}};
    EXPECT_EQ(getRevRecord(Bytes{0x07}, fw), ok(padded({})));
    EXPECT_EQ(set(Bytes{0x04, 0x01}, fw), ok({0x00}));
    EXPECT_EQ(fw.calls,
              (Strings{"save 7", "publish 3.00", "load 7", "save 4"}));

    fw.calls.clear();
    EXPECT_EQ(setBiosFwInfo(Bytes{0x01, 0x02, 0x1A}, fw), cc(0xC7));
    EXPECT_EQ(setBiosFwInfo(Bytes{0x01, 0x02, 0x1A, 0x61, 0x62}, fw), ok({0}));
    EXPECT_EQ(fw.calls, Strings{"publish L2.1aa"});
}

} // namespace kestrel::test::fw_version_cases
