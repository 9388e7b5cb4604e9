#pragma GCC visibility push(default)
#include "smbridge.h"
#pragma GCC visibility pop

#include "internal.hpp"

extern "C" int bus_xfer(const char* device, uint8_t address,
                        const uint8_t* write_data, uint8_t* read_buffer,
                        uint32_t write_length, uint32_t read_length)
{
    return smbridge::busXfer(device, smbridge::kernelRdwr, address, write_data,
                             read_buffer, write_length, read_length);
}

extern "C" int i2c_master_write(const char* device, uint8_t address,
                                const uint8_t* data, uint32_t length)
{
    return smbridge::busXfer(device, smbridge::kernelRdwr, address, data,
                             nullptr, length, 0);
}

extern "C" int i2c_master_read(const char* device, uint8_t address,
                               uint8_t* buffer, uint32_t length)
{
    return smbridge::busXfer(device, smbridge::kernelRdwr, address, nullptr,
                             buffer, 0, length);
}
