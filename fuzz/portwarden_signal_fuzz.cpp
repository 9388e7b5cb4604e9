// portwarden's signal handling, given bodies of any type and shape: the
// SSH PropertiesChanged body read and decided as its monitor does (without
// applying the result, which runs iptables), and InterfacesAdded through
// the daemon's own handler, whose settle timer is dropped unrun.
#include "dbus_body.hpp"
#include "ssh_control.hpp"
#include "ssh_mon.hpp"

#include <boost/asio/io_context.hpp>
#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size)
{
    using namespace portwarden;
    kestrel::fuzz::Input in(bytes, size);
    bool added = in.byte() % 2 == 1;
    auto signal = kestrel::fuzz::makeSignal(kestrel::fuzz::offlineBus(), in,
                                            added ? "oa{sa{sv}}" : "sa{sv}as");
    if (!signal)
    {
        return 0;
    }
    if (added)
    {
        boost::asio::io_context io;
        Monitors monitors;
        onInterfacesAdded(*signal, io, nullptr, monitors);
        return 0;
    }
    try
    {
        std::string interface;
        ChangedProperties changed;
        signal->read(interface, changed);
        sshValues(changed);
    }
    catch (const std::exception&)
    {
        // Reported and dropped.
    }
    return 0;
}
