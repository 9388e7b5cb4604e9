// Platform selection: the chassis ID record names the board, and the JSON
// configuration lists the shell commands to run for each chassis ID.
#pragma once

#include "chassis_record.hpp"

#include <functional>
#include <istream>
#include <string>

namespace boardpilot
{

// Used when the EEPROM holds no valid chassis ID.
inline constexpr const char* defaultPlatform = "VRKL";

// The platform key of a record, logging which case applied.
std::string platformKey(const kestrel::chassis::Record& record);

using CommandRunner = std::function<void(const std::string&)>;

// Parses the configuration and runs, in file order, the command of every
// entry whose "chassisid" equals `key`.  Throws the JSON library's exception
// on a malformed file or a member of the wrong type; commands of earlier
// entries have run by then.
void runPlatformCommands(std::istream& config, const std::string& key,
                         const CommandRunner& run);

} // namespace boardpilot
