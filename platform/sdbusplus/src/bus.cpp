#include <sdbusplus/bus.hpp>

#include <cstdint>
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

std::vector<char*> toStrv(const std::vector<std::string>& strings)
{
    std::vector<char*> strv;
    strv.reserve(strings.size() + 1);
    for (const auto& s : strings)
    {
        strv.push_back(const_cast<char*>(s.c_str()));
    }
    strv.push_back(nullptr);
    return strv;
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

sd_bus* bus::release() noexcept
{
    _shouldClose = false;
    return std::exchange(_bus, nullptr);
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

message_t bus::new_signal(const char* objpath, const char* interf,
                          const char* member)
{
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_signal(_bus, &m, objpath, interf, member);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_message_new_signal");
    }
    return message_t(m, std::false_type());
}

message_t bus::call(message_t& m, uint64_t timeout_us)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call(_bus, m.get(), timeout_us, &error, &reply);
    if (r < 0)
    {
        throwCallError(error, r, "sd_bus_call");
    }
    return message_t(reply, std::false_type());
}

message_t bus::call(message_t& m, std::optional<SdBusDuration> timeout)
{
    return call(m, toUsec(timeout));
}

void bus::call_noreply(message_t& m, uint64_t timeout_us)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_call(_bus, m.get(), timeout_us, &error, nullptr);
    if (r < 0)
    {
        throwCallError(error, r, "sd_bus_call noreply");
    }
}

void bus::call_noreply(message_t& m, std::optional<SdBusDuration> timeout)
{
    call_noreply(m, toUsec(timeout));
}

void bus::call_noreply_noerror(message_t& m, uint64_t timeout_us)
{
    try
    {
        call_noreply(m, timeout_us);
    }
    catch (const exception::SdBusError&)
    {
    }
}

void bus::call_noreply_noerror(message_t& m,
                               std::optional<SdBusDuration> timeout)
{
    call_noreply_noerror(m, toUsec(timeout));
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

message_t bus::process()
{
    sd_bus_message* m = nullptr;
    int r = sd_bus_process(_bus, &m);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_process");
    }
    return message_t(m, std::false_type());
}

bool bus::process_discard()
{
    int r = sd_bus_process(_bus, nullptr);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_process discard");
    }
    return r > 0;
}

void bus::process_loop()
{
    while (true)
    {
        if (!process_discard())
        {
            wait();
        }
    }
}

void bus::wait(uint64_t timeout_us)
{
    int r = sd_bus_wait(_bus, timeout_us);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_wait");
    }
}

void bus::wait(std::optional<SdBusDuration> timeout)
{
    wait(timeout ? timeout->count() : UINT64_MAX);
}

void bus::flush()
{
    int r = sd_bus_flush(_bus);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_flush");
    }
}

void bus::close()
{
    sd_bus_close(_bus);
}

int bus::get_fd()
{
    return sd_bus_get_fd(_bus);
}

int bus::get_events()
{
    int r = sd_bus_get_events(_bus);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_get_events");
    }
    return r;
}

uint64_t bus::get_timeout()
{
    uint64_t usec = 0;
    int r = sd_bus_get_timeout(_bus, &usec);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_get_timeout");
    }
    return usec;
}

void bus::attach_event(sd_event* event, int priority)
{
    int r = sd_bus_attach_event(_bus, event, priority);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_attach_event");
    }
}

void bus::detach_event()
{
    sd_bus_detach_event(_bus);
}

void bus::emit_interfaces_added(const char* path,
                                const std::vector<std::string>& ifaces)
{
    auto strv = toStrv(ifaces);
    int r = sd_bus_emit_interfaces_added_strv(_bus, path, strv.data());
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_emit_interfaces_added");
    }
}

void bus::emit_interfaces_removed(const char* path,
                                  const std::vector<std::string>& ifaces)
{
    auto strv = toStrv(ifaces);
    int r = sd_bus_emit_interfaces_removed_strv(_bus, path, strv.data());
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_emit_interfaces_removed");
    }
}

void bus::emit_object_added(const char* path)
{
    int r = sd_bus_emit_object_added(_bus, path);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_emit_object_added");
    }
}

void bus::emit_object_removed(const char* path)
{
    int r = sd_bus_emit_object_removed(_bus, path);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_emit_object_removed");
    }
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

bus new_default_system()
{
    return openShared(sd_bus_default_system, __PRETTY_FUNCTION__);
}

bus new_default_user()
{
    return openShared(sd_bus_default_user, __PRETTY_FUNCTION__);
}

bus new_bus()
{
    return openPrivate(sd_bus_open, __PRETTY_FUNCTION__);
}

bus new_system()
{
    return openPrivate(sd_bus_open_system, __PRETTY_FUNCTION__);
}

bus new_user()
{
    return openPrivate(sd_bus_open_user, __PRETTY_FUNCTION__);
}

} // namespace sdbusplus::bus
