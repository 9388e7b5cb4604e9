#include <sdbusplus/message.hpp>

namespace sdbusplus::message
{

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

void message::method_return()
{
    int r = sd_bus_send(nullptr, _msg, nullptr);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_send");
    }
}

} // namespace sdbusplus::message
