#include "file_store.hpp"
#include "internal.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace romcell
{

namespace
{

// The image has a fixed size (an at24 sysfs attribute reports the EEPROM's
// capacity); nothing may be read or written beyond it.
int checkRange(int fd, uint32_t offset, uint32_t length, off_t& size)
{
    struct stat st;
    if (::fstat(fd, &st) < 0)
    {
        return -errno;
    }
    if (!S_ISREG(st.st_mode))
    {
        return -EINVAL;
    }
    size = st.st_size;
    if (uint64_t{offset} + length > static_cast<uint64_t>(size))
    {
        return -EINVAL;
    }
    return 0;
}

bool onSysfs(int fd)
{
    struct statfs fs;
    return ::fstatfs(fd, &fs) == 0 && fs.f_type == SYSFS_MAGIC;
}

} // namespace

int readEeprom(const char* path, uint8_t* buffer, uint32_t offset,
               uint32_t length)
{
    if (length == 0)
    {
        return 0;
    }
    if (buffer == nullptr)
    {
        return -EINVAL;
    }
    int fd = board_io::openRetry(path, O_RDONLY);
    if (fd < 0)
    {
        return fd;
    }
    board_io::UniqueFd file(fd);
    off_t size = 0;
    if (int rc = checkRange(fd, offset, length, size); rc < 0)
    {
        return rc;
    }
    // The caller's buffer is only touched once the whole read succeeded.
    std::vector<uint8_t> bytes(length);
    if (int rc = board_io::preadAll(fd, bytes.data(), length, offset); rc < 0)
    {
        return rc;
    }
    std::memcpy(buffer, bytes.data(), length);
    return 0;
}

int writeEeprom(const char* path, const uint8_t* data, uint32_t offset,
                uint32_t length)
{
    if (length == 0)
    {
        return 0;
    }
    if (data == nullptr)
    {
        return -EINVAL;
    }
    int fd = board_io::openRetry(path, O_RDONLY);
    if (fd < 0)
    {
        return fd;
    }
    board_io::UniqueFd file(fd);
    off_t size = 0;
    if (int rc = checkRange(fd, offset, length, size); rc < 0)
    {
        return rc;
    }

    if (onSysfs(fd))
    {
        // A sysfs attribute cannot be renamed over; at24 writes in place.
        file.reset();
        fd = board_io::openRetry(path, O_WRONLY);
        if (fd < 0)
        {
            return fd;
        }
        file.reset(fd);
        return board_io::pwriteAll(fd, data, length, offset);
    }

    std::vector<uint8_t> image(static_cast<size_t>(size));
    if (int rc = board_io::preadAll(fd, image.data(), image.size(), 0); rc < 0)
    {
        return rc;
    }
    file.reset();
    std::memcpy(image.data() + offset, data, length);

    // Replace the file the path resolves to, so a symlinked image stays
    // linked.
    char* real = ::realpath(path, nullptr);
    if (real == nullptr)
    {
        return -errno;
    }
    std::string target(real);
    std::free(real);
    return board_io::replaceFile(target, image);
}

} // namespace romcell
