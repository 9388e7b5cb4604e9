// The board libraries' implementations, each taking its device or store path
// explicitly.  The public C entry points pass the configured path; tests pass
// paths in a scratch directory.
#pragma once

#include <cerrno>
#include <cstdint>

#include "revstore.h"

struct i2c_rdwr_ioctl_data;

namespace board_io
{
// The C entry points must not let an exception (std::bad_alloc) escape into
// their C callers.
template <typename F>
auto noThrow(F&& f, decltype(f()) onError) noexcept
{
    try
    {
        return f();
    }
    catch (...)
    {
        return onError;
    }
}
} // namespace board_io

namespace romcell
{
int readEeprom(const char* path, uint8_t* buffer, uint32_t offset,
               uint32_t length);
int writeEeprom(const char* path, const uint8_t* data, uint32_t offset,
                uint32_t length);
} // namespace romcell

namespace smbridge
{
// Stands in for ioctl(fd, I2C_RDWR, data); returns what ioctl(2) would, with
// errno set on failure.
using RdwrFn = int (*)(int fd, i2c_rdwr_ioctl_data* data);

int busXfer(const char* device, RdwrFn rdwr, uint8_t address,
            const uint8_t* writeData, uint8_t* readBuffer, uint32_t writeLength,
            uint32_t readLength);
int kernelRdwr(int fd, i2c_rdwr_ioctl_data* data);
} // namespace smbridge

namespace regpeek
{
int read32(const char* memPath, uint32_t address, uint32_t* value);
int write32(const char* memPath, uint32_t address, uint32_t value);
} // namespace regpeek

namespace revstore
{
int getRecord(const char* path, uint8_t index, COMMON_VERSION_INFO* info);
int setRecord(const char* path, uint8_t index, const COMMON_VERSION_INFO* info);
} // namespace revstore

namespace keyshelf
{
long getLong(const char* path, const char* section, const char* key,
             long defaultValue);
int setLong(const char* path, const char* section, const char* key, long value);
} // namespace keyshelf

namespace sidebandcfg
{
int getPort(const char* path);
int setPort(const char* path, uint8_t port);
} // namespace sidebandcfg
