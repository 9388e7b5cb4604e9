#pragma GCC visibility push(default)
#include "romcell.h"
#pragma GCC visibility pop

#include "internal.hpp"

extern "C" int read_eeprom(uint8_t* buffer, uint32_t offset, uint32_t length)
{
    return board_io::noThrow(
        [&] {
            return romcell::readEeprom(ROMCELL_EEPROM_PATH, buffer, offset,
                                       length);
        },
        -ENOMEM);
}

extern "C" int write_eeprom(const uint8_t* data, uint32_t offset,
                            uint32_t length)
{
    return board_io::noThrow(
        [&] {
            return romcell::writeEeprom(ROMCELL_EEPROM_PATH, data, offset,
                                        length);
        },
        -ENOMEM);
}
