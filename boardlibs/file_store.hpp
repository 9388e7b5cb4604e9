// Helpers shared by the board libraries for whole-file stores.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace board_io
{

// Owns a file descriptor; closes it on destruction.
class UniqueFd
{
  public:
    explicit UniqueFd(int fd = -1) noexcept : fd(fd)
    {
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int get() const noexcept
    {
        return fd;
    }
    explicit operator bool() const noexcept
    {
        return fd >= 0;
    }
    void reset(int newFd = -1) noexcept;

  private:
    int fd;
};

// open(2) retried on EINTR; returns the descriptor or -errno.
int openRetry(const char* path, int flags, mode_t mode = 0);

// Loops over partial transfers and EINTR.  Both return 0 or -errno; a read
// that hits end of file early is -EIO.
int preadAll(int fd, uint8_t* data, size_t length, off_t offset);
int pwriteAll(int fd, const uint8_t* data, size_t length, off_t offset);

// Creates every missing directory above `path` with mode 0755.
int makeParentDirs(const std::string& path);

// Reads the whole file into `out`; -ENOENT when it does not exist.
int readFile(const std::string& path, std::vector<uint8_t>& out);

// Replaces `path` with `data` so that readers see either the old or the new
// content: temporary file in the same directory, fsync, rename.  Missing
// parent directories are created.  The temporary file never survives a
// failure.
int replaceFile(const std::string& path, std::span<const uint8_t> data);

// An flock(2) on `<store>.lock`.  The store itself is replaced by rename, so
// it cannot carry the lock; the lock file is never renamed or removed.
class StoreLock
{
  public:
    // Exclusive: creates the lock file (and its directories) when missing.
    static int exclusive(const std::string& storePath, StoreLock& lock);
    // Shared: when the lock file does not exist yet or cannot be opened no
    // writer has run or can run, and since stores change only by rename the
    // reader carries on without it.
    static void shared(const std::string& storePath, StoreLock& lock);

  private:
    UniqueFd fd;
};

} // namespace board_io
