// watchkeeper's signal handling: the daemon's own handlers, on the sample
// configuration, given PropertiesChanged bodies of any type and shape.  The
// keeper registers its watches on the board sandbox's bus; the signals are
// made on a connection of their own and never sent.
#include "dbus_body.hpp"
#include "guard.hpp"
#include "watchkeeper.hpp"

#include <fstream>
#include <memory>

namespace
{

struct NoActuator final : property_mon::Actuator
{
    void setLedAsserted(const std::string&, bool) override
    {
    }
    void runCommand(const std::string&) override
    {
    }
};

struct Keeper
{
    sdbusplus::bus_t bus = sdbusplus::bus::new_system();
    NoActuator actuator;
    property_mon::WatchKeeper keeper{bus, actuator, SAMPLE_CONFIG};
    property_mon::Config config = [] {
        std::ifstream in(SAMPLE_CONFIG);
        return property_mon::loadConfig(in);
    }();
};

Keeper& keeper()
{
    static Keeper k;
    return k;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    kestrel::fuzz::requireSandbox();
    keeper();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size)
{
    Keeper& k = keeper();
    kestrel::fuzz::Input in(bytes, size);
    std::size_t pick = in.byte() % (k.config.watches.size() + 1);
    auto signal =
        kestrel::fuzz::makeSignal(kestrel::fuzz::offlineBus(), in, "sa{sv}as");
    if (!signal)
    {
        return 0;
    }
    if (pick == k.config.watches.size())
    {
        k.keeper.onHostStateChanged(*signal, k.config.hostState);
    }
    else
    {
        k.keeper.onPropertiesChanged(*signal, k.config.watches[pick]);
    }
    return 0;
}
