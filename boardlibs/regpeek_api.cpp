#pragma GCC visibility push(default)
#include "regpeek.h"
#pragma GCC visibility pop

#include "internal.hpp"

extern "C" int mmap_read32(uint32_t address, uint32_t* value)
{
    return regpeek::read32(REGPEEK_MEM_PATH, address, value);
}

extern "C" int mmap_write32(uint32_t address, uint32_t value)
{
    return regpeek::write32(REGPEEK_MEM_PATH, address, value);
}
