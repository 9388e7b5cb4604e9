/* libsidebandcfg: the NC-SI sideband port selection. */
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The low byte is the selected port; 0 when nothing was ever stored. */
int GetSidebandPort(void);
/* Returns 0 or a negative errno value. */
int SetSidebandPort(uint8_t port);

#ifdef __cplusplus
}
#endif
