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

ipmi::RspType<std::array<uint8_t, 8>> typedNoArgs(ipmi::Context::ptr)
{
    return ipmi::responseSuccess(
        std::array<uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8});
}

template <typename H>
void typed(ipmi::Cmd cmd, H handler, int prio = 10,
           ipmi::Privilege priv = ipmi::Privilege::Admin)
{
    ipmi::impl::registerHandler(
        prio, netFnProbe, cmd, priv,
        std::make_shared<ipmi::IpmiHandler<H>>(std::move(handler)));
}

void legacy(ipmi::Cmd cmd, ipmid_callback_t handler)
{
    ipmi_register_callback(netFnProbe, cmd, nullptr, handler, SYSTEM_INTERFACE);
}

#if PROBE_FIRST
ipmi::RspType<uint8_t, std::vector<uint8_t>>
    typedMix(ipmi::Context::ptr ctx, uint8_t first,
             std::optional<uint8_t> second)
{
    std::vector<uint8_t> tail{ctx->cmd, static_cast<uint8_t>(ctx->priv)};
    return ipmi::responseSuccess(
        static_cast<uint8_t>(first + second.value_or(0)), tail);
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
#endif

} // namespace

__attribute__((constructor)) static void registerProbe()
{
    probeLoaded(PROBE_NAME);
    // Both probes take 0x20 at the same priority: the later load wins.
    legacy(0x20, [](auto, auto, auto, auto rsp, auto len, auto) -> ipmi_ret_t {
        static_cast<uint8_t*>(rsp)[0] = PROBE_NAME[0];
        *len = 1;
        return ipmi::ccSuccess;
    });
#if PROBE_FIRST
    legacy(0x01,
           [](auto, auto, auto req, auto rsp, auto len, auto) -> ipmi_ret_t {
               std::memcpy(rsp, req, *len);
               return ipmi::ccSuccess;
           });
    legacy(0x02, [](auto, auto, auto, auto, auto, auto) -> ipmi_ret_t {
        throw std::runtime_error("legacy boom");
    });
    legacy(0x03, [](auto, auto, auto, auto, auto, auto) -> ipmi_ret_t {
        throw ipmi::HandlerException(0xD5, "not now");
    });
    legacy(0x04,
           [](auto, auto, auto, auto, auto, auto) -> ipmi_ret_t { throw 42; });
    // Writes one byte and leaves the length as it came in.
    legacy(0x05, [](auto, auto, auto, auto rsp, auto, auto) -> ipmi_ret_t {
        static_cast<uint8_t*>(rsp)[0] = 0x42;
        return ipmi::ccParmOutOfRange;
    });
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
