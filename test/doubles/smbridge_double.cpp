// A recording libsmbridge: same soname and entry points as the real one.
// It logs every call for the test to read, fills byte i of a read with
// 0xA0 + i (so tests can tell the bytes apart) and succeeds.  A test loads
// it before the provider, whose dependency then resolves to it.
#include "smbridge_double.h"

#include <cstdint>
#include <string>

namespace
{

std::string calls;

int record(const char* function, const char* device, uint8_t address,
           const uint8_t* written, uint32_t writeLength, uint8_t* into,
           uint32_t readLength)
{
    calls += std::string(function) + " " + device + " " +
             std::to_string(address) + " ";
    for (uint32_t i = 0; i < writeLength; ++i)
    {
        calls += "0123456789abcdef"[written[i] >> 4];
        calls += "0123456789abcdef"[written[i] & 0xF];
    }
    calls += " " + std::to_string(readLength) + "\n";
    for (uint32_t i = 0; i < readLength; ++i)
    {
        into[i] = static_cast<uint8_t>(0xA0 + i);
    }
    return 0;
}

} // namespace

extern "C" {

int bus_xfer(const char* device, uint8_t address, const uint8_t* write_data,
             uint8_t* read_buffer, uint32_t write_length, uint32_t read_length)
{
    return record("xfer", device, address, write_data, write_length,
                  read_buffer, read_length);
}

int i2c_master_write(const char* device, uint8_t address, const uint8_t* data,
                     uint32_t length)
{
    return record("write", device, address, data, length, nullptr, 0);
}

int i2c_master_read(const char* device, uint8_t address, uint8_t* buffer,
                    uint32_t length)
{
    return record("read", device, address, nullptr, 0, buffer, length);
}

const char* smbridge_double_calls()
{
    return calls.c_str();
}

void smbridge_double_reset()
{
    calls.clear();
}

} // extern "C"
