// The Misc command: the subcommand byte selects the handler.
#include "misc_cmd.hpp"

#include "commands.hpp"
#include "kestrel.hpp"
#include "misc_subcommands.hpp"

#include <cstdint>
#include <ipmid/api.hpp>
#include <vector>

namespace
{

// The exported subcommand handlers, called by name with the request's
// context.
class ExportedSubcommands final : public kestrel::misc_cmd::Subcommands
{
  public:
    explicit ExportedSubcommands(ipmi::Context::ptr& ctx) : ctx(ctx)
    {
    }

    kestrel::Answer jedecId(kestrel::Request data) override
    {
        return kestrel::misc::answerOf(
            ipmiJedecId(ctx, std::vector<uint8_t>(data.begin(), data.end())));
    }
    kestrel::Answer wakeOnLan(kestrel::Request data) override
    {
        return kestrel::misc::answerOf(
            ipmiWakeOnLan(ctx, std::vector<uint8_t>(data.begin(), data.end())));
    }

  private:
    ipmi::Context::ptr& ctx;
};

} // namespace

KESTREL_EXPORT ipmi::RspType<std::vector<uint8_t>>
    ipmiMiscCmd(ipmi::Context::ptr& ctx, uint8_t subcommand,
                std::vector<uint8_t> data)
{
    ExportedSubcommands subcommands(ctx);
    return kestrel::misc::typedAnswer(
        kestrel::misc_cmd::miscCmd(subcommand, data, subcommands));
}

extern "C" {

KESTREL_EXPORT void register_netfn_oem_misc()
    __attribute__((constructor(KESTREL_CTOR_MISC)));

void register_netfn_oem_misc()
{
    using namespace kestrel::cmd;
    ipmi::registerHandler(ipmi::prioOpenBmcBase, netFnKestrel, misc,
                          ipmi::Privilege::Admin, ipmiMiscCmd);
}

} // extern "C"
