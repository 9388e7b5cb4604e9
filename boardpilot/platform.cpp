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

void runPlatformCommands(std::istream& config, const std::string& key,
                         const CommandRunner& run)
{
    auto data = nlohmann::json::parse(config);
    // value() throws for a top level or an entry that is not an object, and
    // get<std::string> for members that are not strings.
    auto platforms = data.value("platforms", nlohmann::json());
    for (const auto& platform : platforms)
    {
        auto chassisId = platform.value("chassisid", std::string());
        if (chassisId != key)
        {
            continue;
        }
        auto command = platform.value("run", std::string());
        log<level::INFO>("chassisid run", entry("RUN=%s", command.c_str()));
        run(command);
    }
}

} // namespace boardpilot
