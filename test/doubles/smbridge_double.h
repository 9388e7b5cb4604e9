/* The recording side of the libsmbridge double. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* The calls since the last reset, a line each: "xfer|write|read DEVICE
 * ADDRESS WRITTEN-HEX READ-LENGTH". */
const char* smbridge_double_calls(void);
/* Forgets the calls. */
void smbridge_double_reset(void);

#ifdef __cplusplus
}
#endif
