#include <sdbusplus/bus/match.hpp>

namespace sdbusplus::bus
{
namespace
{

// sd-bus calls this from C: nothing may propagate, so an exception from the
// callback terminates here rather than unwind through sd_bus_process().
int callCallback(sd_bus_message* m, void* context, sd_bus_error*) noexcept
{
    auto* callback = static_cast<match_t::callback_t*>(context);
    message_t message(m);
    (*callback)(message);
    return 0;
}

} // namespace

match_t::match_t(sdbusplus::bus_t& bus, const char* rule,
                 sd_bus_message_handler_t handler, void* context)
{
    install(bus.get(), rule, handler, context);
}

match_t::match_t(sdbusplus::bus_t& bus, const std::string& rule,
                 sd_bus_message_handler_t handler, void* context) :
    match_t(bus, rule.c_str(), handler, context)
{
}

match_t::match_t(sdbusplus::bus_t& bus, const char* rule, callback_t callback) :
    _callback(std::make_unique<callback_t>(std::move(callback)))
{
    install(bus.get(), rule, callCallback, _callback.get());
}

match_t::match_t(sdbusplus::bus_t& bus, const std::string& rule,
                 callback_t callback) :
    match_t(bus, rule.c_str(), std::move(callback))
{
}

void match_t::install(sd_bus* bus, const char* rule,
                      sd_bus_message_handler_t handler, void* context)
{
    sd_bus_slot* slot = nullptr;
    int r = sd_bus_add_match(bus, &slot, rule, handler, context);
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_match");
    }
    _slot.reset(slot);
}

} // namespace sdbusplus::bus
