#include "platform.hpp"

#include <nlohmann/json.hpp>
#include <phosphor-logging/log.hpp>

namespace boardpilot
{

using namespace phosphor::logging;

std::string platformKey(const kestrel::chassis::Record& record)
{
    auto decoded = kestrel::chassis::decodeRecord(record);
    if (decoded.state != kestrel::chassis::RecordState::valid)
    {
        log<level::INFO>("Chassis ID not set, default platform");
        return defaultPlatform;
    }
    log<level::INFO>("Chassis ID set",
                     entry("CHASSIS_ID=%s", decoded.id.c_str()));
    return decoded.id;
}

nlohmann::json platformEntries(const nlohmann::json& config)
{
    // value() throws for a top level that is not an object.
    return config.value("platforms", nlohmann::json());
}

std::string entryChassisId(const nlohmann::json& entry)
{
    // value() throws for an entry that is not an object, and
    // get<std::string> for a member that is not a string.
    return entry.value("chassisid", std::string());
}

std::string entryCommand(const nlohmann::json& entry)
{
    return entry.value("run", std::string());
}

void runPlatformCommands(std::istream& config, const std::string& key,
                         const CommandRunner& run)
{
    auto data = nlohmann::json::parse(config);
    auto platforms = platformEntries(data);
    for (const auto& platform : platforms)
    {
        auto chassisId = entryChassisId(platform);
        if (chassisId != key)
        {
            continue;
        }
        auto command = entryCommand(platform);
        log<level::INFO>("chassisid run", entry("RUN=%s", command.c_str()));
        run(command);
    }
}

} // namespace boardpilot
