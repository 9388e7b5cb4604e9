/* The recording side of the libsmbridge double. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum SmbridgeFunction
{
    smbridgeBusXfer,
    smbridgeMasterWrite,
    smbridgeMasterRead,
};

struct SmbridgeCall
{
    enum SmbridgeFunction function;
    char device[64];
    uint8_t address;
    uint8_t writeData[256];
    uint32_t writeLength;
    uint32_t readLength;
};

/* The calls since the last reset, oldest first. */
size_t smbridge_double_calls(const struct SmbridgeCall** out);
/* Forgets the calls; every later call returns `result` (reads fill their
 * buffer only when it is not negative). */
void smbridge_double_reset(int result);

#ifdef __cplusplus
}
#endif
