// A provider for the host's own tests: registers handlers that exercise the
// dispatcher's rules, and reports its loading to the test executable.
#include <array>
#include <cstring>
#include <ipmid/api.hpp>
#include <stdexcept>
#include <vector>

extern "C" void probeLoaded(const char* name); // defined by the test program

namespace
{

constexpr ipmi::NetFn netFnProbe = 0x30;

// The second probe registers only a few of these.
#pragma GCC diagnostic ignored "-Wunused-function"

ipmi_ret_t echo(ipmi_netfn_t, ipmi_cmd_t, ipmi_request_t req,
                ipmi_response_t rsp, ipmi_data_len_t len, ipmi_context_t)
{
    std::memcpy(rsp, req, *len);
    return ipmi::ccSuccess;
}

ipmi_ret_t throwsStd(ipmi_netfn_t, ipmi_cmd_t, ipmi_request_t, ipmi_response_t,
                     ipmi_data_len_t, ipmi_context_t)
{
    throw std::runtime_error("legacy boom");
}

ipmi_ret_t throwsHandlerException(ipmi_netfn_t, ipmi_cmd_t, ipmi_request_t,
                                  ipmi_response_t, ipmi_data_len_t,
                                  ipmi_context_t)
{
    throw ipmi::HandlerException(0xD5, "not now");
}

ipmi_ret_t throwsInt(ipmi_netfn_t, ipmi_cmd_t, ipmi_request_t, ipmi_response_t,
                     ipmi_data_len_t, ipmi_context_t)
{
    throw 42;
}

// Writes one byte and leaves the length as it came in.
ipmi_ret_t errorKeepsLength(ipmi_netfn_t, ipmi_cmd_t, ipmi_request_t,
                            ipmi_response_t rsp, ipmi_data_len_t,
                            ipmi_context_t)
{
    static_cast<uint8_t*>(rsp)[0] = 0x42;
    return ipmi::ccParmOutOfRange;
}

ipmi_ret_t whoAmI(ipmi_netfn_t, ipmi_cmd_t, ipmi_request_t, ipmi_response_t rsp,
                  ipmi_data_len_t len, ipmi_context_t)
{
    static_cast<uint8_t*>(rsp)[0] = PROBE_NAME[0];
    *len = 1;
    return ipmi::ccSuccess;
}

ipmi::RspType<uint8_t, std::vector<uint8_t>>
    typedMix(ipmi::Context::ptr ctx, uint8_t first,
             std::optional<uint8_t> second)
{
    std::vector<uint8_t> tail{ctx->cmd, static_cast<uint8_t>(ctx->priv)};
    return ipmi::responseSuccess(
        static_cast<uint8_t>(first + second.value_or(0)), tail);
}

ipmi::RspType<std::array<uint8_t, 8>> typedNoArgs(ipmi::Context::ptr)
{
    return ipmi::responseSuccess(
        std::array<uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8});
}

ipmi::RspType<> typedThrows(ipmi::Context::ptr&, std::vector<uint8_t> data)
{
    if (!data.empty() && data[0] == 0x01)
    {
        throw ipmi::HandlerException(0xCC, "typed refusal");
    }
    throw std::runtime_error("typed boom");
}

ipmi::RspType<uint8_t> typedByte(ipmi::Context::ptr ctx, std::vector<uint8_t>)
{
    return ipmi::responseSuccess(static_cast<uint8_t>(ctx->netFn));
}

template <typename H>
void typed(ipmi::Cmd cmd, H handler, int prio = 10,
           ipmi::Privilege priv = ipmi::Privilege::Admin)
{
    ipmi::impl::registerHandler(
        prio, netFnProbe, cmd, priv,
        std::make_shared<ipmi::IpmiHandler<H>>(std::move(handler)));
}

} // namespace

__attribute__((constructor)) static void registerProbe()
{
    probeLoaded(PROBE_NAME);
    // Both probes take 0x20 at the same priority: the later load wins.
    ipmi_register_callback(netFnProbe, 0x20, nullptr, whoAmI, SYSTEM_INTERFACE);
#if PROBE_FIRST
    ipmi_register_callback(netFnProbe, 0x01, nullptr, echo, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnProbe, 0x02, nullptr, throwsStd,
                           SYSTEM_INTERFACE);
    ipmi_register_callback(netFnProbe, 0x03, nullptr, throwsHandlerException,
                           SYSTEM_INTERFACE);
    ipmi_register_callback(netFnProbe, 0x04, nullptr, throwsInt,
                           SYSTEM_INTERFACE);
    ipmi_register_callback(netFnProbe, 0x05, nullptr, errorKeepsLength,
                           SYSTEM_INTERFACE);
    typed(0x10, &typedMix);
    typed(0x11, &typedNoArgs);
    typed(0x12, &typedThrows);
    typed(0x13, &typedByte, ipmi::prioOemBase);
    typed(0x14, &typedByte, 10, ipmi::Privilege::Oem);
    typed(ipmi::cmdWildcard, &typedByte);
#else
    // A lower priority does not displace the first probe's handler.
    typed(0x13, &typedNoArgs, ipmi::prioOpenBmcBase);
#endif
}
