#include "boot_complete.hpp"

#include "dbus_names.hpp"

#include <cstdint>

namespace kestrel::boot_complete
{

Answer getBootComplete(Request, LedGroups& leds)
{
    bool booted = leds.asserted(dbus::ledBmcBooted);
    return success({booted ? uint8_t{0x01} : uint8_t{0x00}});
}

} // namespace kestrel::boot_complete
