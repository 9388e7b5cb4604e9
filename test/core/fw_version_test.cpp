// Firmware version records and the BIOS version strings against a fake
// version store and a fake software updater.
#include "fakes.hpp"
#include "fw_version.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using fw_version::biosFwInfoString;
using fw_version::biosVersionString;
using fw_version::VersionRecord;
using testing::ElementsAre;
using testing::IsEmpty;

VersionRecord record(std::initializer_list<uint8_t> head)
{
    VersionRecord r{};
    std::copy(head.begin(), head.end(), r.begin());
    return r;
}

Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes bytes(const VersionRecord& r)
{
    return {r.begin(), r.end()};
}

struct FakeStore : fw_version::VersionStore
{
    std::map<uint8_t, VersionRecord> records;
    std::vector<uint8_t> saves;
    int result = 0;

    int load(uint8_t index, VersionRecord& r) override
    {
        if (result < 0)
        {
            return result;
        }
        if (records.contains(index))
        {
            r = records[index];
        }
        return 0;
    }
    int save(uint8_t index, const VersionRecord& r) override
    {
        saves.push_back(index);
        if (result < 0)
        {
            return result;
        }
        records[index] = r;
        return 0;
    }
};

struct FakeBios : fw_version::BiosVersion
{
    std::vector<std::string> published;
    bool fail = false;

    void publish(const std::string& version) override
    {
        if (fail)
        {
            throw BusFailure();
        }
        published.push_back(version);
    }
};

struct FwVersion : testing::Test
{
    std::array<uint8_t, fw_version::RecordTable::extent> table{};
    FakeStore store;
    FakeBios bios;

    Answer set(const Bytes& request)
    {
        return fw_version::setRevRecord(request, table, store, bios);
    }
    Answer get(const Bytes& request)
    {
        return fw_version::getRevRecord(request, store);
    }
    Bytes tableEntry(uint8_t index)
    {
        auto at = table.begin() + 16 * index;
        return {at, at + 16};
    }
};

TEST(FwVersionStrings, BiosVersionString)
{
    const std::pair<VersionRecord, const char*> cases[] = {
        {record({0x01, 0x05}), "1.05"},
        {record({0x01, 0x05, 0x00, 0x00, 0x03}), "1.05.03"},
        {record({0x02, 0x0A, 'A', 'B'}), "2.10.AB"},
        {record({0x02, 0x0A, 'A', 'B', 0x07}), "2.10.AB07"},
        {record({0x02, 0x10, 'A', 'B', 0x10}), "2.16.AB16"},
        {record({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "255.255.\xFF\xFF"
                                                 "255"},
        {record({0x01, 0x02, 'X', 0x00}), "1.02.X"},
        // A 0x00 first letter ends the text, as a C string.
        {record({0x01, 0x02, 0x00, 'Y', 0x04}), "1.02."},
    };
    for (const auto& [r, text] : cases)
    {
        EXPECT_EQ(biosVersionString(r), text) << text;
    }
}

TEST(FwVersionStrings, BiosFwInfoString)
{
    const std::tuple<Bytes, const char*> cases[] = {
        {{0x01, 0x02, 0x1A, 0x00}, "L2.1a"},
        {{0x00, 0x03, 0x05, 0x62}, "P3.05b"},
        {{0x02, 0x03, 0x05, 0xFF}, "P3.05"},
        {{0x01, 0xFF, 0xFF, 0x7A}, "L255.ffz"},
    };
    for (const auto& [in, text] : cases)
    {
        EXPECT_EQ(biosFwInfoString(in[0], in[1], in[2], in[3]), text) << text;
    }
}

TEST_F(FwVersion, BiosRecordIsKeptPublishedAndSaved)
{
    EXPECT_EQ(set({0x00, 0x02, 0x0A, 'A', 'B', 0x07}), success({0x00}));
    EXPECT_THAT(bios.published, ElementsAre("2.10.AB07"));
    EXPECT_THAT(store.saves, ElementsAre(0x00));
    auto expected = bytes(record({0x02, 0x0A, 'A', 'B', 0x07}));
    EXPECT_EQ(tableEntry(0), expected);
    EXPECT_EQ(get({0x00}), success(expected));
}

TEST_F(FwVersion, OtherRecordsAreNotPublished)
{
    Bytes full(16, 0x5A);
    EXPECT_EQ(set(cat({0x1C}, full)), success({0x00}));
    EXPECT_EQ(set({0x05, 0x03}), success({0x00}));
    EXPECT_THAT(bios.published, IsEmpty());
    EXPECT_THAT(store.saves, ElementsAre(0x1C, 0x05));
    EXPECT_EQ(tableEntry(0x1C), full);
    EXPECT_EQ(get({0x1C}), success(full));
    EXPECT_EQ(get({0x05, 0x77}), success(bytes(record({0x03}))));
    // Never stored: zeroes.
    EXPECT_EQ(get({0x1B}), success(Bytes(16, 0x00)));
}

TEST_F(FwVersion, ShortRecordReplacesTheWholeEntry)
{
    ASSERT_EQ(set(cat({0x07}, Bytes(16, 0x11))), success({0x00}));
    ASSERT_EQ(set({0x07, 0x01, 0x02}), success({0x00}));
    EXPECT_EQ(tableEntry(0x07), bytes(record({0x01, 0x02})));
    EXPECT_EQ(get({0x07}), success(bytes(record({0x01, 0x02}))));
    // Index alone: an all-zero record.
    ASSERT_EQ(set({0x07}), success({0x00}));
    EXPECT_EQ(get({0x07}), success(Bytes(16, 0x00)));
}

TEST_F(FwVersion, RefusedRequestsChangeNothing)
{
    const Case setCases[] = {
        {"empty", {}, failure(0xC7)},
        {"17 record bytes", cat({0x02}, Bytes(17, 0x01)), failure(0xC7)},
        {"index past the last", {0x1D, 0x01}, failure(0xC1)},
        {"index 0xFF", {0xFF}, failure(0xC1)},
    };
    for (const auto& c : setCases)
    {
        EXPECT_EQ(set(c.request), c.expected) << c.name;
    }
    EXPECT_EQ(table, decltype(table){});
    EXPECT_THAT(store.saves, IsEmpty());
    EXPECT_THAT(bios.published, IsEmpty());

    EXPECT_EQ(get({}), failure(0xC7));
    EXPECT_EQ(get({0x1D}), failure(0xC1));
}

TEST_F(FwVersion, FailedPublishKeepsTheEntryButSavesNothing)
{
    bios.fail = true;
    EXPECT_THROW(set({0x00, 0x02, 0x02}), BusFailure);
    EXPECT_EQ(tableEntry(0), bytes(record({0x02, 0x02})));
    EXPECT_THAT(store.saves, IsEmpty());
}

TEST_F(FwVersion, StoreFailuresAreNotReported)
{
    store.records[0x03] = record({0x09});
    store.result = -EIO;
    // Today's answers: success for a lost save, zeroes for a failed load.
    EXPECT_EQ(set({0x04, 0x01}), success({0x00}));
    EXPECT_THAT(store.saves, ElementsAre(0x04));
    EXPECT_EQ(get({0x03}), success(Bytes(16, 0x00)));
}

TEST(FwVersionBiosInfo, PublishesAfterTheLengthCheck)
{
    FakeBios bios;
    EXPECT_EQ(fw_version::setBiosFwInfo(Bytes{0x01, 0x02, 0x1A}, bios),
              failure(0xC7));
    EXPECT_THAT(bios.published, IsEmpty());
    EXPECT_EQ(
        fw_version::setBiosFwInfo(Bytes{0x01, 0x02, 0x1A, 0x61, 0x62}, bios),
        success({0x00}));
    EXPECT_THAT(bios.published, ElementsAre("L2.1aa"));
    bios.fail = true;
    EXPECT_THROW(fw_version::setBiosFwInfo(Bytes{0x00, 0x01, 0x02, 0x00}, bios),
                 BusFailure);
}

} // namespace
} // namespace kestrel::test
