#pragma GCC visibility push(default)
#include "revstore.h"
#pragma GCC visibility pop

#include "internal.hpp"

extern "C" int GetRevRecord(uint8_t index, COMMON_VERSION_INFO* info)
{
    return board_io::noThrow(
        [&] { return revstore::getRecord(REVSTORE_PATH, index, info); },
        -ENOMEM);
}

extern "C" int SetRevRecord(uint8_t index, const COMMON_VERSION_INFO* info)
{
    return board_io::noThrow(
        [&] { return revstore::setRecord(REVSTORE_PATH, index, info); },
        -ENOMEM);
}
