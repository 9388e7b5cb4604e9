#include "file_store.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace board_io
{

UniqueFd::~UniqueFd()
{
    reset();
}

void UniqueFd::reset(int newFd) noexcept
{
    if (fd >= 0)
    {
        ::close(fd);
    }
    fd = newFd;
}

int openRetry(const char* path, int flags, mode_t mode)
{
    int fd;
    do
    {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? -errno : fd;
}

int preadAll(int fd, uint8_t* data, size_t length, off_t offset)
{
    while (length > 0)
    {
        ssize_t n = ::pread(fd, data, length, offset);
        if (n < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            return -errno;
        }
        if (n == 0)
        {
            return -EIO;
        }
        data += n;
        length -= static_cast<size_t>(n);
        offset += n;
    }
    return 0;
}

int pwriteAll(int fd, const uint8_t* data, size_t length, off_t offset)
{
    while (length > 0)
    {
        ssize_t n = ::pwrite(fd, data, length, offset);
        if (n < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            return -errno;
        }
        if (n == 0)
        {
            return -EIO;
        }
        data += n;
        length -= static_cast<size_t>(n);
        offset += n;
    }
    return 0;
}

int makeParentDirs(const std::string& path)
{
    for (size_t pos = path.find('/', 1); pos != std::string::npos;
         pos = path.find('/', pos + 1))
    {
        std::string dir = path.substr(0, pos);
        struct stat st;
        if (::stat(dir.c_str(), &st) == 0)
        {
            if (!S_ISDIR(st.st_mode))
            {
                return -ENOTDIR;
            }
            continue;
        }
        if (::mkdir(dir.c_str(), 0755) < 0 && errno != EEXIST)
        {
            return -errno;
        }
    }
    return 0;
}

int readFile(const std::string& path, std::vector<uint8_t>& out)
{
    int fd = openRetry(path.c_str(), O_RDONLY);
    if (fd < 0)
    {
        return fd;
    }
    UniqueFd file(fd);
    std::vector<uint8_t> data;
    uint8_t chunk[4096];
    for (;;)
    {
        ssize_t n = ::read(fd, chunk, sizeof(chunk));
        if (n < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            return -errno;
        }
        if (n == 0)
        {
            break;
        }
        data.insert(data.end(), chunk, chunk + n);
    }
    out = std::move(data);
    return 0;
}

namespace
{

// fsync of the directory makes the rename itself durable.
void syncDir(const std::string& dir)
{
    int fd = openRetry(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0)
    {
        UniqueFd d(fd);
        ::fsync(fd);
    }
}

// Closes the temporary (when still open) and removes it; returns -err.
int discardTemporary(UniqueFd& file, const std::string& tmpPath, int err)
{
    file.reset();
    ::unlink(tmpPath.c_str());
    return -err;
}

} // namespace

int replaceFile(const std::string& path, std::span<const uint8_t> data,
                ReplaceOptions options)
{
    if (options.createParents)
    {
        if (int rc = makeParentDirs(path); rc < 0)
        {
            return rc;
        }
    }

    std::error_code ec;
    std::filesystem::path target = std::filesystem::canonical(path, ec);
    if (ec)
    {
        target = path;
    }
    std::filesystem::path dir = target.parent_path();
    if (dir.empty())
    {
        dir = ".";
    }

    struct stat original
    {
    };
    bool haveOriginal = ::stat(target.c_str(), &original) == 0;

    std::string tmpPath =
        (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    int fd = ::mkostemp(tmpPath.data(), O_CLOEXEC);
    if (fd < 0)
    {
        return -errno;
    }
    UniqueFd file(fd);

    mode_t mode = haveOriginal ? (original.st_mode & 07777) : 0644;
    if (::fchmod(fd, mode) != 0)
    {
        return discardTemporary(file, tmpPath, errno);
    }
    if (haveOriginal &&
        (original.st_uid != ::geteuid() || original.st_gid != ::getegid()))
    {
        if (::fchown(fd, original.st_uid, original.st_gid) != 0)
        {
            // Best effort: an unprivileged caller keeps its own ownership.
        }
    }

    // write(2) from the start of the new, empty file.
    const uint8_t* next = data.data();
    size_t left = data.size();
    while (left > 0)
    {
        ssize_t n = ::write(fd, next, left);
        if (n < 0 && errno == EINTR)
        {
            continue;
        }
        if (n <= 0)
        {
            return discardTemporary(file, tmpPath, n < 0 ? errno : EIO);
        }
        next += n;
        left -= static_cast<size_t>(n);
    }

    if (::fsync(fd) != 0)
    {
        return discardTemporary(file, tmpPath, errno);
    }
    if (::close(file.release()) != 0)
    {
        return discardTemporary(file, tmpPath, errno);
    }
    if (::rename(tmpPath.c_str(), target.c_str()) != 0)
    {
        return discardTemporary(file, tmpPath, errno);
    }
    // The new content is in place; a failing directory sync only weakens
    // durability across power loss and is not reported as a failed write.
    syncDir(dir.string());
    return 0;
}

int StoreLock::exclusive(const std::string& storePath, StoreLock& lock)
{
    std::string lockPath = storePath + ".lock";
    if (int rc = makeParentDirs(lockPath); rc < 0)
    {
        return rc;
    }
    int fd = openRetry(lockPath.c_str(), O_RDWR | O_CREAT, 0644);
    if (fd < 0)
    {
        return fd;
    }
    lock.fd.reset(fd);
    while (::flock(fd, LOCK_EX) < 0)
    {
        if (errno != EINTR)
        {
            int rc = -errno;
            lock.fd.reset();
            return rc;
        }
    }
    return 0;
}

void StoreLock::shared(const std::string& storePath, StoreLock& lock)
{
    std::string lockPath = storePath + ".lock";
    int fd = openRetry(lockPath.c_str(), O_RDONLY);
    if (fd < 0)
    {
        return;
    }
    lock.fd.reset(fd);
    while (::flock(fd, LOCK_SH) < 0 && errno == EINTR)
    {
    }
}

} // namespace board_io
