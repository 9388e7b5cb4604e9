// An org.freedesktop.DBus.ObjectManager at a path, for as long as this
// object lives.
#pragma once

#include <systemd/sd-bus.h>

#include <memory>
#include <sdbusplus/bus.hpp>

namespace sdbusplus
{
namespace server
{
namespace manager
{

struct manager
{
    manager(sdbusplus::bus_t& bus, const char* path);

    manager(const manager&) = delete;
    manager& operator=(const manager&) = delete;
    manager(manager&&) = default;
    manager& operator=(manager&&) = default;
    ~manager() = default;

  private:
    struct slot_deleter
    {
        void operator()(sd_bus_slot* s) const noexcept
        {
            sd_bus_slot_unref(s);
        }
    };
    std::unique_ptr<sd_bus_slot, slot_deleter> _slot;
};

} // namespace manager

using manager_t = manager::manager;

} // namespace server
} // namespace sdbusplus
