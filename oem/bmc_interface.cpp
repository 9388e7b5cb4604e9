// BMC interface: a fixed report of the BMC's interfaces, one byte per bit of
// the mask in the request.
#include "kestrel.hpp"

#include <ipmid/api.hpp>

#include <cstdint>

namespace
{

constexpr ipmi_netfn_t netFnKestrelInterface = 0x32;
constexpr ipmi_cmd_t cmdGetBmcInterface = 0x3D;

constexpr std::size_t requestLength = 3;
constexpr uint8_t maxMask = 0x07;
constexpr uint8_t interfaceAvailable = 0x07;

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiGetBmcInterface(ipmi_netfn_t, ipmi_cmd_t,
                                              ipmi_request_t request,
                                              ipmi_response_t response,
                                              ipmi_data_len_t dataLen,
                                              ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    if (length < requestLength)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    const auto* in = static_cast<const uint8_t*>(request);
    if (in[0] != 0x01 || in[1] != 0x00 || in[2] > maxMask)
    {
        return ipmi::ccInvalidCommand;
    }
    auto* out = static_cast<uint8_t*>(response);
    for (std::size_t bit = 0; bit < 3; ++bit)
    {
        out[bit] = (in[2] & (1u << bit)) ? interfaceAvailable : 0x00;
    }
    *dataLen = 3;
    return ipmi::ccSuccess;
}

KESTREL_EXPORT void register_netfn_oem_bmc_interface()
    __attribute__((constructor(KESTREL_CTOR_BMC_INTERFACE)));

void register_netfn_oem_bmc_interface()
{
    ipmi_register_callback(netFnKestrelInterface, cmdGetBmcInterface, nullptr,
                           ipmiGetBmcInterface, SYSTEM_INTERFACE);
}

} // extern "C"
