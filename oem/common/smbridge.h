/* libsmbridge: I2C master transfers on a Linux I2C device node. */
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* `device` is a node such as "/dev/i2c-3", `address` the 7-bit address.
 * Each returns a negative errno value on failure, else 0. */
int bus_xfer(const char* device, uint8_t address, const uint8_t* write_data,
             uint8_t* read_buffer, uint32_t write_length, uint32_t read_length);
int i2c_master_write(const char* device, uint8_t address, const uint8_t* data,
                     uint32_t length);
int i2c_master_read(const char* device, uint8_t address, uint8_t* buffer,
                    uint32_t length);

#ifdef __cplusplus
}
#endif
