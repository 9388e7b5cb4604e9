#include "file_store.hpp"
#include "internal.hpp"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace smbridge
{

namespace
{

// i2c-dev rejects longer messages; checking here keeps a too-long request
// from being truncated into the 16-bit length field.
constexpr uint32_t maxMessageLength = 8192;

} // namespace

int kernelRdwr(int fd, i2c_rdwr_ioctl_data* data)
{
    return ::ioctl(fd, I2C_RDWR, data);
}

int busXfer(const char* device, RdwrFn rdwr, uint8_t address,
            const uint8_t* writeData, uint8_t* readBuffer, uint32_t writeLength,
            uint32_t readLength)
{
    if (writeLength == 0 && readLength == 0)
    {
        return 0;
    }
    if (device == nullptr || address > 0x7f ||
        (writeLength != 0 && writeData == nullptr) ||
        (readLength != 0 && readBuffer == nullptr) ||
        writeLength > maxMessageLength || readLength > maxMessageLength)
    {
        return -EINVAL;
    }

    i2c_msg msgs[2];
    uint32_t count = 0;
    if (writeLength != 0)
    {
        // The kernel only reads from a message without I2C_M_RD.
        msgs[count++] = {address, 0, static_cast<__u16>(writeLength),
                         const_cast<__u8*>(writeData)};
    }
    if (readLength != 0)
    {
        msgs[count++] = {address, I2C_M_RD, static_cast<__u16>(readLength),
                         readBuffer};
    }

    int fd = board_io::openRetry(device, O_RDWR);
    if (fd < 0)
    {
        return fd;
    }
    board_io::UniqueFd bus(fd);
    i2c_rdwr_ioctl_data xfer{msgs, count};
    int rc = rdwr(fd, &xfer);
    if (rc < 0)
    {
        return errno > 0 ? -errno : -EIO;
    }
    // A partial transfer left some message undone.
    return static_cast<uint32_t>(rc) == count ? 0 : -EIO;
}

} // namespace smbridge
