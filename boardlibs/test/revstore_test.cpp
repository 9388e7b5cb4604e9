#include "internal.hpp"
#include "scratch_dir.hpp"

#include <cerrno>
#include <cstring>

namespace
{

using RevstoreTest = ScratchDir;

COMMON_VERSION_INFO record(uint8_t major, uint8_t minor, char letter,
                           uint8_t build)
{
    COMMON_VERSION_INFO info{};
    info.major = major;
    info.minor = minor;
    info.letters[0] = static_cast<uint8_t>(letter);
    info.build = build;
    std::memset(info.reserved, 0xee, sizeof(info.reserved));
    return info;
}

bool sameBytes(const COMMON_VERSION_INFO& a, const COMMON_VERSION_INFO& b)
{
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

TEST_F(RevstoreTest, RecordsPersistIndependently)
{
    std::string store = path("state/revstore/records.bin");
    COMMON_VERSION_INFO zero{};
    COMMON_VERSION_INFO got = record(9, 9, 'z', 9);

    // Nothing stored yet, not even the directory.
    ASSERT_EQ(revstore::getRecord(store.c_str(), 3, &got), 0);
    EXPECT_TRUE(sameBytes(got, zero));

    const COMMON_VERSION_INFO first = record(1, 2, 'a', 3);
    const COMMON_VERSION_INFO last = record(4, 5, 'b', 6);
    ASSERT_EQ(revstore::setRecord(store.c_str(), 0, &first), 0);
    ASSERT_EQ(revstore::setRecord(store.c_str(), 0x1c, &last), 0);

    // Each call reads the file afresh, as after a daemon restart.
    ASSERT_EQ(revstore::getRecord(store.c_str(), 0, &got), 0);
    EXPECT_TRUE(sameBytes(got, first));
    ASSERT_EQ(revstore::getRecord(store.c_str(), 0x1c, &got), 0);
    EXPECT_TRUE(sameBytes(got, last));
    ASSERT_EQ(revstore::getRecord(store.c_str(), 7, &got), 0);
    EXPECT_TRUE(sameBytes(got, zero));

    std::vector<uint8_t> bytes = slurp(store);
    ASSERT_EQ(bytes.size(), REVSTORE_RECORD_COUNT * 16U);
    EXPECT_EQ(std::memcmp(bytes.data() + 0x1c * 16, &last, 16), 0);
}

TEST_F(RevstoreTest, ShortFileReadsZerosPastItsEnd)
{
    std::string store = path("records.bin");
    spit(store, std::string(16, '\x07'));
    COMMON_VERSION_INFO got{};
    ASSERT_EQ(revstore::getRecord(store.c_str(), 0, &got), 0);
    EXPECT_EQ(got.build, 7);
    ASSERT_EQ(revstore::getRecord(store.c_str(), 1, &got), 0);
    EXPECT_TRUE(sameBytes(got, COMMON_VERSION_INFO{}));

    const COMMON_VERSION_INFO info = record(1, 0, 0, 0);
    ASSERT_EQ(revstore::setRecord(store.c_str(), 2, &info), 0);
    ASSERT_EQ(revstore::getRecord(store.c_str(), 0, &got), 0);
    EXPECT_EQ(got.build, 7);
}

TEST_F(RevstoreTest, BadIndexOrBufferIsInvalid)
{
    std::string store = path("records.bin");
    COMMON_VERSION_INFO info = record(1, 1, 'x', 1);
    const COMMON_VERSION_INFO before = info;
    EXPECT_EQ(revstore::getRecord(store.c_str(), 0x1d, &info), -EINVAL);
    EXPECT_EQ(revstore::getRecord(store.c_str(), 0xff, &info), -EINVAL);
    EXPECT_TRUE(sameBytes(info, before));
    EXPECT_EQ(revstore::setRecord(store.c_str(), 0x1d, &info), -EINVAL);
    EXPECT_EQ(revstore::getRecord(store.c_str(), 0, nullptr), -EINVAL);
    EXPECT_EQ(revstore::setRecord(store.c_str(), 0, nullptr), -EINVAL);
    EXPECT_FALSE(std::filesystem::exists(store));
}

} // namespace
