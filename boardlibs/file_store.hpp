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
    // Gives up ownership: the caller closes the descriptor.
    int release() noexcept
    {
        int old = fd;
        fd = -1;
        return old;
    }

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

struct ReplaceOptions
{
    // Create every missing directory above `path` (mode 0755) first.
    bool createParents = true;
};

// Replaces `path` with `data` so that readers (or a crash, or a full disk)
// see either the old or the new content, never a partial one: the bytes go
// to a temporary file beside the file, which is flushed to disk and renamed
// over it, and the directory is flushed after the rename.  A symbolic link
// stays a link: the file it names is replaced.  The new file takes the
// original's mode (0644 when there is none) and, where the caller may, its
// owner.  Returns 0 or -errno; on failure the original is untouched and the
// temporary never survives.
int replaceFile(const std::string& path, std::span<const uint8_t> data,
                ReplaceOptions options = {});

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
