#include <sdbusplus/exception.hpp>
#include <sdbusplus/server/manager.hpp>

namespace sdbusplus::server::manager
{

manager::manager(sdbusplus::bus_t& bus, const char* path)
{
    sd_bus_slot* slot = nullptr;
    int r = sd_bus_add_object_manager(bus.get(), &slot, path);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_add_object_manager");
    }
    _slot.reset(slot);
}

} // namespace sdbusplus::server::manager
