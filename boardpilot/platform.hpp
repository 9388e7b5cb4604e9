// Platform selection: the chassis ID record names the board, and the JSON
// configuration lists the shell commands to run for each chassis ID.
#pragma once

#include "chassis_record.hpp"

#include <functional>
#include <istream>
#include <nlohmann/json.hpp>
#include <string>

namespace boardpilot
{

// Used when the EEPROM holds no valid chassis ID.
inline constexpr const char* defaultPlatform = "VRKL";

// The platform key of a record, logging which case applied.
std::string platformKey(const kestrel::chassis::Record& record);

// The reads of the configuration, one per member; runPlatformCommands and
// the configuration checker both use them.
// "platforms" of the parsed document (null when absent); throws the JSON
// library's type error for a top level that is not an object.
nlohmann::json platformEntries(const nlohmann::json& config);
// An entry's "chassisid" and "run" (empty when absent); each throws the
// library's type error for an entry that is not an object or a member that
// is not a string.
std::string entryChassisId(const nlohmann::json& entry);
std::string entryCommand(const nlohmann::json& entry);

using CommandRunner = std::function<void(const std::string&)>;

// Parses the configuration and runs, in file order, the command of every
// entry whose "chassisid" equals `key`.  Throws the JSON library's exception
// on a malformed file or a member of the wrong type; commands of earlier
// entries have run by then.
void runPlatformCommands(std::istream& config, const std::string& key,
                         const CommandRunner& run);

} // namespace boardpilot
