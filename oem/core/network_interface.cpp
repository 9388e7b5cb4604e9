#include "network_interface.hpp"

#include "dbus_names.hpp"

namespace kestrel::network_interface
{
namespace
{

constexpr uint8_t actionRestart = 0x00;
constexpr uint8_t actionFactoryReset = 0x01;
constexpr uint8_t actionDeleteAll = 0x02;

} // namespace

std::optional<std::string> deleteAllObject(uint8_t selector)
{
    switch (selector)
    {
        case 0x01:
            return std::string(dbus::networkRoot) + "eth1";
        case 0x02:
            return std::string(dbus::networkRoot) + "eth0";
        default:
            return std::nullopt;
    }
}

Answer setNetworkIntf(Request in, Units& units, NetworkService& network)
{
    if (in.size() < 1)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    switch (in[0])
    {
        case actionRestart:
            units.startStop(dbus::unitNetworkd, "Restart");
            return success();
        case actionFactoryReset:
            network.factoryReset();
            return success();
        case actionDeleteAll:
        {
            if (in.size() < 2)
            {
                return failure(ipmi::ccReqDataLenInvalid);
            }
            auto object = deleteAllObject(in[1]);
            if (!object)
            {
                return failure(ipmi::ccInvalidCommand);
            }
            network.deleteAll(*object);
            return success();
        }
        default:
            return failure(ipmi::ccInvalidCommand);
    }
}

} // namespace kestrel::network_interface
