#include <cstdint>
#include <sdbusplus/bus.hpp>
#include <utility>

namespace sdbusplus::bus
{
namespace
{

uint64_t toUsec(std::optional<SdBusDuration> timeout)
{
    return timeout ? timeout->count() : 0;
}

// sd_bus_call() fills `error` for nearly every failure; when it did not,
// the result still has to surface as an error, never as an empty one.
[[noreturn]] void throwCallError(sd_bus_error& error, int r, const char* prefix)
{
    if (!sd_bus_error_is_set(&error))
    {
        sd_bus_error_set_errno(&error, r);
    }
    throw exception::SdBusError(&error, prefix);
}

} // namespace

bus::bus(sd_bus* b) : _bus(sd_bus_ref(b))
{
    // Waits for the connection to be set up, so the bus is usable (and its
    // unique name known) as soon as the handle exists.
    get_unique_name();
}

bus::bus(sd_bus* b, std::false_type) : _bus(b)
{
    get_unique_name();
}

bus::bus(bus&& other) noexcept :
    _bus(std::exchange(other._bus, nullptr)),
    _shouldClose(std::exchange(other._shouldClose, false))
{
}

bus& bus::operator=(bus&& other) noexcept
{
    if (this != &other)
    {
        reset();
        _bus = std::exchange(other._bus, nullptr);
        _shouldClose = std::exchange(other._shouldClose, false);
    }
    return *this;
}

bus::~bus()
{
    reset();
}

void bus::reset() noexcept
{
    if (_bus == nullptr)
    {
        return;
    }
    if (_shouldClose)
    {
        sd_bus_flush_close_unref(_bus);
    }
    else
    {
        sd_bus_unref(_bus);
    }
    _bus = nullptr;
}

message_t bus::new_method_call(const char* service, const char* objpath,
                               const char* interf, const char* method)
{
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_method_call(_bus, &m, service, objpath, interf,
                                           method);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_message_new_method_call");
    }
    return message_t(m, std::false_type());
}

message_t bus::call(message_t& m, std::optional<SdBusDuration> timeout)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call(_bus, m.get(), toUsec(timeout), &error, &reply);
    if (r < 0)
    {
        throwCallError(error, r, "sd_bus_call");
    }
    return message_t(reply, std::false_type());
}

void bus::call_noreply(message_t& m, std::optional<SdBusDuration> timeout)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_call(_bus, m.get(), toUsec(timeout), &error, nullptr);
    if (r < 0)
    {
        throwCallError(error, r, "sd_bus_call noreply");
    }
}

void bus::request_name(const char* service)
{
    int r = sd_bus_request_name(_bus, service,
                                SD_BUS_NAME_ALLOW_REPLACEMENT |
                                    SD_BUS_NAME_REPLACE_EXISTING);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_request_name");
    }
}

std::string bus::get_unique_name()
{
    const char* unique = nullptr;
    sd_bus_get_unique_name(_bus, &unique);
    return unique != nullptr ? unique : "";
}

int bus::get_fd()
{
    return sd_bus_get_fd(_bus);
}

namespace
{

template <typename Open>
bus openShared(Open open, const char* function)
{
    sd_bus* b = nullptr;
    int r = open(&b);
    if (r < 0)
    {
        throw exception::SdBusError(-r, function);
    }
    return bus(b, std::false_type());
}

template <typename Open>
bus openPrivate(Open open, const char* function)
{
    bus b = openShared(open, function);
    b.set_should_close(true);
    return b;
}

} // namespace

bus new_default()
{
    return openShared(sd_bus_default, __PRETTY_FUNCTION__);
}

bus new_system()
{
    return openPrivate(sd_bus_open_system, __PRETTY_FUNCTION__);
}

} // namespace sdbusplus::bus
