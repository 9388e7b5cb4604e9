#include "file_store.hpp"
#include "internal.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace revstore
{

namespace
{

constexpr size_t recordSize = sizeof(COMMON_VERSION_INFO);
static_assert(recordSize == 16, "records are stored as 16 raw bytes");

} // namespace

// The store is the records back to back; a record past the end of the file
// (or a missing file) was never stored and reads as zeros.
int getRecord(const char* path, uint8_t index, COMMON_VERSION_INFO* info)
{
    if (index >= REVSTORE_RECORD_COUNT || info == nullptr)
    {
        return -EINVAL;
    }
    std::vector<uint8_t> store;
    {
        board_io::StoreLock lock;
        board_io::StoreLock::shared(path, lock);
        if (int rc = board_io::readFile(path, store); rc < 0 && rc != -ENOENT)
        {
            return rc;
        }
    }
    store.resize(
        std::max(store.size(), size_t{REVSTORE_RECORD_COUNT} * recordSize));
    std::memcpy(info, store.data() + index * recordSize, recordSize);
    return 0;
}

int setRecord(const char* path, uint8_t index, const COMMON_VERSION_INFO* info)
{
    if (index >= REVSTORE_RECORD_COUNT || info == nullptr)
    {
        return -EINVAL;
    }
    // Read-modify-write: without the lock a concurrent update of another
    // record could be lost.
    board_io::StoreLock lock;
    if (int rc = board_io::StoreLock::exclusive(path, lock); rc < 0)
    {
        return rc;
    }
    std::vector<uint8_t> store;
    if (int rc = board_io::readFile(path, store); rc < 0 && rc != -ENOENT)
    {
        return rc;
    }
    store.resize(
        std::max(store.size(), size_t{REVSTORE_RECORD_COUNT} * recordSize));
    std::memcpy(store.data() + index * recordSize, info, recordSize);
    return board_io::replaceFile(path, store);
}

} // namespace revstore
