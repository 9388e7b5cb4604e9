/* librevstore: firmware version records, index 0 to 0x1C. */
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define REVSTORE_RECORD_COUNT 29

/* 16 bytes; callers interpret bytes 0 to 4 only. */
typedef struct
{
    uint8_t major;
    uint8_t minor;
    uint8_t letters[2]; /* ASCII, 0x00 when absent */
    uint8_t build;      /* 0 when absent */
    uint8_t reserved[11];
} COMMON_VERSION_INFO;

/* Fill or store one record.  Return 0 on success, a negative errno value on
 * failure (an out-of-range index is -EINVAL).  A record never stored reads as
 * 16 zero bytes. */
int GetRevRecord(uint8_t index, COMMON_VERSION_INFO* info);
int SetRevRecord(uint8_t index, const COMMON_VERSION_INFO* info);

#ifdef __cplusplus
}
#endif
