/* The recording side of the libsmbridge double. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* The calls since the last reset, a line each: the entry point (xfer, write,
 * read), the device, the address, the written bytes in hex, the read
 * length. */
const char* smbridge_double_calls(void);
/* Forgets the calls. */
void smbridge_double_reset(void);

#ifdef __cplusplus
}
#endif
