#include "file_store.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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
int syncDir(const std::string& path)
{
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "."
                      : slash == 0               ? "/"
                                                 : path.substr(0, slash);
    int fd = openRetry(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
    {
        return fd;
    }
    UniqueFd d(fd);
    return ::fsync(fd) < 0 ? -errno : 0;
}

} // namespace

int replaceFile(const std::string& path, std::span<const uint8_t> data)
{
    if (int rc = makeParentDirs(path); rc < 0)
    {
        return rc;
    }

    // Keep the permissions of the file being replaced.
    mode_t mode = 0644;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
    {
        mode = st.st_mode & 07777;
    }

    std::string tmp = path + ".tmpXXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
    {
        return -errno;
    }
    UniqueFd file(fd);

    int rc = 0;
    if (::fchmod(fd, mode) < 0)
    {
        rc = -errno;
    }
    if (rc == 0)
    {
        rc = pwriteAll(fd, data.data(), data.size(), 0);
    }
    if (rc == 0 && ::fsync(fd) < 0)
    {
        rc = -errno;
    }
    file.reset();
    if (rc == 0 && ::rename(tmp.c_str(), path.c_str()) < 0)
    {
        rc = -errno;
    }
    if (rc < 0)
    {
        ::unlink(tmp.c_str());
        return rc;
    }
    // The new content is in place; a failing directory sync only weakens
    // durability across power loss and is not reported as a failed write.
    syncDir(path);
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
