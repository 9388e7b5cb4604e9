#include "misc_cmd.hpp"

#include "commands.hpp"

namespace kestrel::misc_cmd
{

Answer miscCmd(uint8_t subcommand, Request data, Subcommands& subcommands)
{
    switch (subcommand)
    {
        case cmd::miscJedecId:
            return subcommands.jedecId(data);
        case cmd::miscWakeOnLan:
            return subcommands.wakeOnLan(data);
        default:
            return failure(ipmi::ccInvalidFieldRequest);
    }
}

} // namespace kestrel::misc_cmd
