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

match_t::match_t(sdbusplus::bus_t& bus, const char* rule, callback_t callback) :
    _callback(std::make_unique<callback_t>(std::move(callback)))
{
    sd_bus_slot* slot = nullptr;
    int r =
        sd_bus_add_match(bus.get(), &slot, rule, callCallback, _callback.get());
    if (r < 0)
    {
        throw exception::SdBusError(-r, "sd_bus_match");
    }
    _slot.reset(slot);
}

match_t::match_t(sdbusplus::bus_t& bus, const std::string& rule,
                 callback_t callback) :
    match_t(bus, rule.c_str(), std::move(callback))
{
}

} // namespace sdbusplus::bus
