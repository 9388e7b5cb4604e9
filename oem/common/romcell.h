/* libromcell: the board EEPROM, addressed by absolute byte offset. */
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Reads `length` bytes at `offset` into `buffer`.  Returns a negative errno
 * value on failure (the buffer is then left untouched), else 0. */
int read_eeprom(uint8_t* buffer, uint32_t offset, uint32_t length);

/* Writes `length` bytes of `data` at `offset`.  Returns a negative errno value
 * on failure, else 0.  A write is never left half done on an image file. */
int write_eeprom(const uint8_t* data, uint32_t offset, uint32_t length);

#ifdef __cplusplus
}
#endif
