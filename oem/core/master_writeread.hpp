// I2C master write-read: a raw write, read or write-then-read transaction on
// any I2C bus of the service processor.
#pragma once

#include "answer.hpp"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::master_writeread
{

/** The I2C transfers of libsmbridge, on a device node such as "/dev/i2c-3"
 *  and a 7-bit address.  Each returns 0 or a negative errno value. */
struct I2cBus
{
    virtual ~I2cBus() = default;
    /** A write followed by a read, as one transaction. */
    virtual int transfer(const std::string& device, uint8_t address,
                         const uint8_t* writeData, uint8_t* readBuffer,
                         uint32_t writeLength, uint32_t readLength) = 0;
    virtual int write(const std::string& device, uint8_t address,
                      const uint8_t* data, uint32_t length) = 0;
    virtual int read(const std::string& device, uint8_t address,
                     uint8_t* buffer, uint32_t length) = 0;
};

/** The device node of bus `bus`: the prefix ("/dev/i2c-") and the bus
 *  number in decimal. */
std::string devicePath(std::string_view prefix, uint8_t bus);

/** Request: bus, 8-bit address (bit 0 clear), read count, then the bytes to
 *  write.  Response: the bytes read.  With nothing to write and nothing to
 *  read, a one-byte read probes the device and its byte is not returned.
 *  The write count is the low byte of the number of bytes after the
 *  header. */
Answer masterWriteRead(Request in, I2cBus& bus, std::string_view devicePrefix);

} // namespace kestrel::master_writeread
