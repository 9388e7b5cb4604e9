// The board's implementations of the shared core seams: D-Bus through the
// blocking operations, the EEPROM through libromcell, the shell through
// system(3).  Declared here without the D-Bus headers, so an adapter that
// only hands a seam to its core compiles quickly.
#pragma once

#include "seams.hpp"

namespace kestrel
{

struct SystemdUnits final : Units
{
    void startStop(const std::string& unitPath,
                   const std::string& member) override;
    std::string activeState(const std::string& unitPath) override;
};

struct BusLedGroups final : LedGroups
{
    void setAsserted(const std::string& groupPath, bool asserted) override;
    bool asserted(const std::string& groupPath) override;
};

struct BoardEeprom final : Eeprom
{
    int read(uint8_t* buffer, uint32_t offset, uint32_t length) override;
    int write(const uint8_t* data, uint32_t offset, uint32_t length) override;
};

/** The command's exit status, or -1 when it did not exit normally. */
struct SystemShell final : Shell
{
    int run(const char* command) override;
};

} // namespace kestrel
