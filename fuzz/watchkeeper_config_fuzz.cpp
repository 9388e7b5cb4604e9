// watchkeeper's configuration: the input is the file.  Whatever loads is
// then run through the engine for every watched property and both host
// states, as signals would run it; the checker reads it too.
#include "config.hpp"
#include "engine.hpp"

#include <exception>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size)
{
    using namespace property_mon;
    std::string text(reinterpret_cast<const char*>(bytes), size);
    {
        std::istringstream in(text);
        checkConfig(in);
    }
    Config config;
    try
    {
        std::istringstream in(text);
        config = loadConfig(in);
    }
    catch (const std::exception&)
    {
        return 0; // the daemon does not start
    }
    watchRules(config);
    State state;
    for (const char* hostState : {hostStateRunning, hostStateOff, "other"})
    {
        state = onHostState(config.hostState, hostState, state).after;
    }
    for (const Watch& watch : config.watches)
    {
        for (bool value : {true, false})
        {
            std::map<std::string, bool> changed;
            for (const PropertyRule& rule : watch.rules)
            {
                changed.emplace(rule.property, value);
            }
            state = onPropertiesChanged(watch.rules, changed, state).after;
        }
    }
    return 0;
}
