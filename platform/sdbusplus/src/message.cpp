#include <sdbusplus/message.hpp>

#include <cerrno>

namespace sdbusplus::message
{

namespace details
{

void throw_read_error(int r, const char* what)
{
    // Zero means "nothing there": report it like a value of the wrong type.
    throw exception::SdBusError(r < 0 ? -r : ENXIO, what);
}

} // namespace details

uint8_t message::get_type() const
{
    uint8_t type = 0;
    int r = sd_bus_message_get_type(_msg, &type);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_message_get_type");
    }
    return type;
}

uint64_t message::get_cookie() const
{
    uint64_t cookie = 0;
    int r = sd_bus_message_get_cookie(_msg, &cookie);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_message_get_cookie");
    }
    return cookie;
}

uint64_t message::get_reply_cookie() const
{
    uint64_t cookie = 0;
    int r = sd_bus_message_get_reply_cookie(_msg, &cookie);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_message_get_reply_cookie");
    }
    return cookie;
}

message message::new_method_return()
{
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_return(_msg, &reply);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_message_new_method_return");
    }
    return message(reply, std::false_type());
}

message message::new_method_error(const exception::exception& e)
{
    sd_bus_error error = SD_BUS_ERROR_MAKE_CONST(e.name(), e.description());
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_error(_msg, &reply, &error);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_message_new_method_error");
    }
    return message(reply, std::false_type());
}

message message::new_method_errno(int error, const sd_bus_error* e)
{
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_errno(_msg, &reply, error, e);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_message_new_method_errno");
    }
    return message(reply, std::false_type());
}

void message::method_return()
{
    int r = sd_bus_send(nullptr, _msg, nullptr);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_send");
    }
}

void message::signal_send()
{
    int r = sd_bus_send(nullptr, _msg, nullptr);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_send");
    }
}

message message::call(std::optional<SdBusDuration> timeout)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    sd_bus* bus = sd_bus_message_get_bus(_msg);
    int r =
        sd_bus_call(bus, _msg, timeout ? timeout->count() : 0, &error, &reply);
    if (r < 0)
    {
        if (!sd_bus_error_is_set(&error))
        {
            sd_bus_error_set_errno(&error, r);
        }
        throw exception::SdBusError(&error, "sd_bus_call");
    }
    return message(reply, std::false_type());
}

} // namespace sdbusplus::message
