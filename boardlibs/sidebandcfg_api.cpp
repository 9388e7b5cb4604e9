#pragma GCC visibility push(default)
#include "sidebandcfg.h"
#pragma GCC visibility pop

#include "internal.hpp"

extern "C" int GetSidebandPort(void)
{
    return board_io::noThrow(
        [] { return sidebandcfg::getPort(SIDEBANDCFG_PATH); }, -ENOMEM);
}

extern "C" int SetSidebandPort(uint8_t port)
{
    return board_io::noThrow(
        [&] { return sidebandcfg::setPort(SIDEBANDCFG_PATH, port); }, -ENOMEM);
}
