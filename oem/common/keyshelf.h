/* libkeyshelf: persistent integer settings by section and key. */
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The stored value, or `default_value` when none is stored (or the store
 * cannot be read).  `long` is 32 bits on the BMC: values are kept as text and
 * read back as `long`. */
long get_ini_long(const char* section, const char* key, long default_value);

/* Stores the value.  Safe against concurrent writers in other processes: an
 * update never loses another process's key.  Returns 0 or a negative errno. */
int set_ini_long(const char* section, const char* key, long value);

#ifdef __cplusplus
}
#endif
