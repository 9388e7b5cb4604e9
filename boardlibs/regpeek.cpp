#include "file_store.hpp"
#include "internal.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

// Registers at physical addresses above 2 GiB need a 64-bit off_t on 32-bit
// targets (the build passes _FILE_OFFSET_BITS=64).
static_assert(sizeof(off_t) >= 8);

namespace regpeek
{

namespace
{

// Maps the page holding `address` for the duration of one access.
class PageMapping
{
  public:
    PageMapping(const PageMapping&) = delete;
    PageMapping& operator=(const PageMapping&) = delete;
    PageMapping() = default;
    ~PageMapping()
    {
        if (base != MAP_FAILED)
        {
            ::munmap(base, pageSize);
        }
    }

    int map(const char* memPath, uint32_t address, int prot)
    {
        if (address % 4 != 0)
        {
            return -EINVAL;
        }
        int fd = board_io::openRetry(memPath, O_RDWR | O_SYNC);
        if (fd < 0)
        {
            return fd;
        }
        board_io::UniqueFd mem(fd);
        pageSize = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        off_t pageStart = address & ~static_cast<off_t>(pageSize - 1);

        // Touching a mapping past the end of a regular file raises SIGBUS.
        struct stat st;
        if (::fstat(fd, &st) < 0)
        {
            return -errno;
        }
        if (S_ISREG(st.st_mode) && off_t{address} + 4 > st.st_size)
        {
            return -EINVAL;
        }

        base = ::mmap(nullptr, pageSize, prot, MAP_SHARED, fd, pageStart);
        if (base == MAP_FAILED)
        {
            return -errno;
        }
        reg = reinterpret_cast<volatile uint32_t*>(static_cast<uint8_t*>(base) +
                                                   (address - pageStart));
        return 0;
    }

    volatile uint32_t* reg = nullptr;

  private:
    void* base = MAP_FAILED;
    size_t pageSize = 0;
};

} // namespace

int read32(const char* memPath, uint32_t address, uint32_t* value)
{
    if (value == nullptr)
    {
        return -EINVAL;
    }
    PageMapping page;
    if (int rc = page.map(memPath, address, PROT_READ); rc < 0)
    {
        return rc;
    }
    *value = *page.reg;
    return 0;
}

int write32(const char* memPath, uint32_t address, uint32_t value)
{
    PageMapping page;
    if (int rc = page.map(memPath, address, PROT_READ | PROT_WRITE); rc < 0)
    {
        return rc;
    }
    *page.reg = value;
    return 0;
}

} // namespace regpeek
