#include <sdbusplus/exception.hpp>
#include <sdbusplus/server/manager.hpp>
#include <sdbusplus/server/transaction.hpp>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace sdbusplus::server
{

namespace transaction
{
namespace
{

// One id per thread; 0 means "not set yet".
thread_local uint64_t currentId = 0;

uint64_t combine(uint64_t hash, uint64_t value)
{
    return hash ^ (value + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2));
}

} // namespace

uint64_t get_id()
{
    if (currentId == 0)
    {
        auto now = static_cast<uint64_t>(
            std::chrono::system_clock::now().time_since_epoch().count());
        auto thread = std::hash<std::thread::id>()(std::this_thread::get_id());
        currentId = combine(std::hash<uint64_t>()(now), thread);
    }
    return currentId;
}

void set_id(uint64_t value)
{
    currentId = value;
}

void set_id(message_t& msg)
{
    const char* unique = nullptr;
    sd_bus_get_unique_name(sd_bus_message_get_bus(msg.get()), &unique);
    uint64_t cookie = 0;
    sd_bus_message_get_cookie(msg.get(), &cookie);
    set_id(
        combine(std::hash<std::string_view>()(unique != nullptr ? unique : ""),
                cookie));
}

} // namespace transaction

namespace manager
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

} // namespace manager

} // namespace sdbusplus::server
