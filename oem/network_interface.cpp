// Set network interface: network maintenance on request of the host or an
// operator: restart the network daemon, factory-reset the network
// configuration, or delete every entry of one Ethernet interface.
#include "dbus_ops.hpp"
#include "kestrel.hpp"

#include <ipmid/api.hpp>

#include <cstdint>

namespace
{

constexpr ipmi_netfn_t netFnKestrel = 0x3A;
constexpr ipmi_cmd_t cmdSetNetworkIntf = 0x71;

constexpr uint8_t actionRestart = 0x00;
constexpr uint8_t actionFactoryReset = 0x01;
constexpr uint8_t actionDeleteAll = 0x02;

constexpr auto networkService = "xyz.openbmc_project.Network";
constexpr auto networkObject = "/xyz/openbmc_project/network";
constexpr auto factoryResetInterface =
    "xyz.openbmc_project.Common.FactoryReset";
constexpr auto deleteAllInterface = "xyz.openbmc_project.Collection.DeleteAll";

// The interface selector of the delete action; note that 0x01 is eth1.
const char* deleteAllObject(uint8_t selector)
{
    switch (selector)
    {
        case 0x01:
            return "/xyz/openbmc_project/network/eth1";
        case 0x02:
            return "/xyz/openbmc_project/network/eth0";
        default:
            return nullptr;
    }
}

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiSeNetworkIntf(ipmi_netfn_t, ipmi_cmd_t,
                                            ipmi_request_t request,
                                            ipmi_response_t,
                                            ipmi_data_len_t dataLen,
                                            ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    if (length < 1)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    const auto* in = static_cast<const uint8_t*>(request);

    // Each call waits for its reply; a failed call leaves as an exception.
    switch (in[0])
    {
        case actionRestart:
            kestrel::dbus::startStopUnit(kestrel::dbus::unitNetworkd,
                                         "Restart");
            return ipmi::ccSuccess;
        case actionFactoryReset:
            kestrel::dbus::callMethodNoReply(networkService, networkObject,
                                             factoryResetInterface, "Reset");
            return ipmi::ccSuccess;
        case actionDeleteAll:
        {
            if (length < 2)
            {
                return ipmi::ccReqDataLenInvalid;
            }
            const char* object = deleteAllObject(in[1]);
            if (object == nullptr)
            {
                return ipmi::ccInvalidCommand;
            }
            kestrel::dbus::callMethodNoReply(networkService, object,
                                             deleteAllInterface, "DeleteAll");
            return ipmi::ccSuccess;
        }
        default:
            return ipmi::ccInvalidCommand;
    }
}

KESTREL_EXPORT void register_netfn_oem_network_interface()
    __attribute__((constructor(KESTREL_CTOR_NETWORK_INTERFACE)));

void register_netfn_oem_network_interface()
{
    ipmi_register_callback(netFnKestrel, cmdSetNetworkIntf, nullptr,
                           ipmiSeNetworkIntf, SYSTEM_INTERFACE);
}

} // extern "C"
