// The Misc command: one command number, several functions behind a
// subcommand byte.  The selected function's answer is the command's answer.
#pragma once

#include "answer.hpp"

#include <cstdint>

namespace kestrel::misc_cmd
{

/** The functions behind the subcommands, given the bytes after the
 *  subcommand byte. */
struct Subcommands
{
    virtual ~Subcommands() = default;
    virtual Answer jedecId(Request data) = 0;
    virtual Answer wakeOnLan(Request data) = 0;
};

/** Another subcommand than those of Subcommands answers 0xCC. */
Answer miscCmd(uint8_t subcommand, Request data, Subcommands& subcommands);

} // namespace kestrel::misc_cmd
