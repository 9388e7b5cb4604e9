// The Misc command: one command number, several functions behind a
// subcommand byte.  The selected handler's answer is the command's answer.
#include "kestrel.hpp"
#include "misc_subcommands.hpp"

#include <ipmid/api.hpp>

#include <cstdint>
#include <vector>

namespace
{
constexpr ipmi::NetFn netFnKestrel = 0x3A;
constexpr ipmi::Cmd cmdMisc = 0xE3;

constexpr uint8_t subJedecId = 0x43;
constexpr uint8_t subWakeOnLan = 0xB0;
} // namespace

KESTREL_EXPORT ipmi::RspType<std::vector<uint8_t>>
    ipmiMiscCmd(ipmi::Context::ptr& ctx, uint8_t subcommand,
                std::vector<uint8_t> data)
{
    switch (subcommand)
    {
        case subJedecId:
            return ipmiJedecId(ctx, std::move(data));
        case subWakeOnLan:
            return ipmiWakeOnLan(ctx, std::move(data));
        default:
            return ipmi::responseInvalidFieldRequest();
    }
}

extern "C" {

KESTREL_EXPORT void register_netfn_oem_misc()
    __attribute__((constructor(KESTREL_CTOR_MISC)));

void register_netfn_oem_misc()
{
    ipmi::impl::registerHandler(
        KESTREL_TYPED_PRIORITY, netFnKestrel, cmdMisc, ipmi::Privilege::Admin,
        std::make_shared<ipmi::IpmiHandler<decltype(&ipmiMiscCmd)>>(
            ipmiMiscCmd));
}

} // extern "C"
