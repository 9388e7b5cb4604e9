// Set network interface: the network daemon's unit through systemd, the
// factory reset and delete-all through the network service, each a blocking
// D-Bus call whose failure leaves the handler as an exception.
#include "network_interface.hpp"

#include "board_seams.hpp"
#include "commands.hpp"
#include "dbus_blocking.hpp"
#include "dbus_names.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"

#include <ipmid/api.h>

#include <string>

namespace
{

struct BusNetworkService final : kestrel::network_interface::NetworkService
{
    void factoryReset() override
    {
        using namespace kestrel::dbus;
        callMethodNoReply(networkService, networkObject, factoryResetInterface,
                          "Reset");
    }
    void deleteAll(const std::string& interfacePath) override
    {
        using namespace kestrel::dbus;
        callMethodNoReply(networkService, interfacePath, deleteAllInterface,
                          "DeleteAll");
    }
};

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiSeNetworkIntf(ipmi_netfn_t, ipmi_cmd_t,
                                            ipmi_request_t request,
                                            ipmi_response_t response,
                                            ipmi_data_len_t dataLen,
                                            ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::network_interface::setNetworkIntf,
                                 kestrel::SystemdUnits{}, BusNetworkService{});
}

KESTREL_EXPORT void register_netfn_oem_network_interface()
    __attribute__((constructor(KESTREL_CTOR_NETWORK_INTERFACE)));

void register_netfn_oem_network_interface()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnKestrel, setNetworkIntf, nullptr,
                           ipmiSeNetworkIntf, SYSTEM_INTERFACE);
}

} // extern "C"
