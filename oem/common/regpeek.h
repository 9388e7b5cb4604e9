/* libregpeek: 32-bit memory-mapped registers at physical addresses. */
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Both return 0 on success and a negative errno value on failure; on failure
 * `*value` is not written. */
int mmap_read32(uint32_t address, uint32_t* value);
int mmap_write32(uint32_t address, uint32_t value);

#ifdef __cplusplus
}
#endif
