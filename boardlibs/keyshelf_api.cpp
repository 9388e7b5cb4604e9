#pragma GCC visibility push(default)
#include "keyshelf.h"
#pragma GCC visibility pop

#include "internal.hpp"

extern "C" long get_ini_long(const char* section, const char* key,
                             long default_value)
{
    return board_io::noThrow(
        [&] {
            return keyshelf::getLong(KEYSHELF_PATH, section, key,
                                     default_value);
        },
        default_value);
}

extern "C" int set_ini_long(const char* section, const char* key, long value)
{
    return board_io::noThrow(
        [&] { return keyshelf::setLong(KEYSHELF_PATH, section, key, value); },
        -ENOMEM);
}
