#include "internal.hpp"
#include "scratch_dir.hpp"

#include <cstring>
#include <numeric>

using RevstoreTest = ScratchDir;

/** A record whose 16 bytes count up from `first`. */
COMMON_VERSION_INFO record(uint8_t first)
{
    COMMON_VERSION_INFO info;
    auto* p = reinterpret_cast<uint8_t*>(&info);
    std::iota(p, p + sizeof(info), first);
    return info;
}

Bytes bytes(const COMMON_VERSION_INFO& info)
{
    auto* p = reinterpret_cast<const uint8_t*>(&info);
    return {p, p + sizeof(info)};
}

TEST_F(RevstoreTest, RecordsPersistIndependentlyAndBadIndexIsInvalid)
{
    std::string store = path("state/revstore/records.bin");
    auto get = [&store](uint8_t index) {
        COMMON_VERSION_INFO got = record(0x90);
        int rc = revstore::getRecord(store.c_str(), index, &got);
        return rc == 0 ? bytes(got) : Bytes{};
    };
    COMMON_VERSION_INFO info = record(0x20);
    EXPECT_EQ(revstore::getRecord(store.c_str(), 0x1d, &info), -EINVAL);
    EXPECT_EQ(bytes(info), bytes(record(0x20)));
    EXPECT_EQ(revstore::setRecord(store.c_str(), 0x1d, &info), -EINVAL);
    EXPECT_EQ(revstore::getRecord(store.c_str(), 0, nullptr), -EINVAL);
    EXPECT_EQ(revstore::setRecord(store.c_str(), 0, nullptr), -EINVAL);
    EXPECT_FALSE(std::filesystem::exists(path("state")));

    // Nothing stored yet, not even the directory: zeros.
    EXPECT_EQ(get(3), bytes({}));
    const COMMON_VERSION_INFO first = record(0x10);
    const COMMON_VERSION_INFO last = record(0x40);
    ASSERT_EQ(revstore::setRecord(store.c_str(), 0, &first), 0);
    ASSERT_EQ(revstore::setRecord(store.c_str(), 0x1c, &last), 0);
    // Each call reads the file afresh, as after a daemon restart.
    EXPECT_EQ(get(0), bytes(first));
    EXPECT_EQ(get(0x1c), bytes(last));
    EXPECT_EQ(get(7), bytes({}));
    Bytes file = slurp(store);
    ASSERT_EQ(file.size(), REVSTORE_RECORD_COUNT * 16U);
    EXPECT_EQ(std::memcmp(file.data() + 0x1c * 16, &last, 16), 0);
}
