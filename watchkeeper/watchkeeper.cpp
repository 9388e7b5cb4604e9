#include "watchkeeper.hpp"

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <map>
#include <phosphor-logging/log.hpp>
#include <utility>

namespace property_mon
{

using namespace phosphor::logging;

namespace
{

constexpr const char* ledService = "xyz.openbmc_project.LED.GroupManager";
constexpr const char* ledInterface = "xyz.openbmc_project.Led.Group";
constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";

Config loadFile(const std::filesystem::path& path)
{
    // A file that cannot be opened parses as empty input: the library's
    // parse error says so.
    std::ifstream in(path);
    return loadConfig(in);
}

void logBadSignal(const char* path, const char* interface,
                  const std::exception& e)
{
    log<level::ERR>("Malformed PropertiesChanged signal",
                    entry("PATH=%s", path), entry("INTERFACE=%s", interface),
                    entry("ERROR=%s", e.what()));
}

} // namespace

void BusActuator::setLedAsserted(const std::string& path, bool asserted)
{
    queued.emplace_back(path, asserted);
    sendQueued();
}

void BusActuator::sendQueued()
{
    // A write that cannot even be built (a path the bus would refuse) is
    // answered at once, from inside async_method_call: the loop already
    // running here sends the rest, instead of one nested call per write.
    if (sending)
    {
        return;
    }
    sending = true;
    while (pending < maxPending && !queued.empty())
    {
        auto [path, asserted] = std::move(queued.front());
        queued.pop_front();
        ++pending;
        // The actuator outlives the loop that runs this reply (main).
        conn.async_method_call(
            [this](const boost::system::error_code& ec) {
                if (ec)
                {
                    log<level::ERR>("Failed to set LED state",
                                    entry("EC=%s", ec.message().c_str()));
                }
                --pending;
                sendQueued();
            },
            ledService, path, propertiesInterface, "Set", ledInterface,
            "Asserted", std::variant<bool>(asserted));
    }
    sending = false;
}

void BusActuator::runCommand(const std::string& command)
{
    // The command's own status is not ours to judge.
    [[maybe_unused]] int status = std::system(command.c_str());
}

WatchMatch::WatchMatch(sd_bus* bus, const std::string& rule, Handler handler) :
    watch(std::make_unique<Watch>(Watch{std::move(handler), 0}))
{
    sd_bus_slot* s = nullptr;
    int r = sd_bus_add_match_async(bus, &s, rule.c_str(), &onSignal,
                                   &onInstalled, watch.get());
    if (r < 0)
    {
        throw sdbusplus::exception::SdBusError(-r, "sd_bus_add_match_async");
    }
    slot.reset(s);
}

// sd-bus calls these from C: nothing may propagate.  The handlers contain
// their own failures.
int WatchMatch::onSignal(sd_bus_message* m, void* userdata,
                         sd_bus_error*) noexcept
{
    sdbusplus::message_t message(m);
    static_cast<Watch*>(userdata)->handler(message);
    return 0;
}

int WatchMatch::onInstalled(sd_bus_message* m, void* userdata,
                            sd_bus_error*) noexcept
{
    if (sd_bus_message_is_method_error(m, nullptr))
    {
        int e = sd_bus_message_get_errno(m);
        static_cast<Watch*>(userdata)->refused = e > 0 ? e : EIO;
    }
    return 0;
}

WatchKeeper::WatchKeeper(sdbusplus::bus_t& bus, Actuator& actuator,
                         const std::filesystem::path& configPath) :
    actuator(actuator)
{
    Config config = loadFile(configPath);
    std::vector<std::string> rules = watchRules(config);
    matches.reserve(rules.size());
    matches.emplace_back(
        bus.get(), rules[0],
        [this, hostState = std::move(config.hostState)](
            sdbusplus::message_t& m) { onHostStateChanged(m, hostState); });
    for (std::size_t i = 0; i < config.watches.size(); ++i)
    {
        matches.emplace_back(
            bus.get(), rules[i + 1],
            [this, watch = std::move(config.watches[i])](
                sdbusplus::message_t& m) { onPropertiesChanged(m, watch); });
    }
    confirmMatches(bus);
}

void WatchKeeper::confirmMatches(sdbusplus::bus_t& bus)
{
    // The bus answers one connection's calls in order: once a call sent
    // after the rules is answered, every rule has been answered too, and
    // those answers wait in the connection's queue.
    auto barrier =
        bus.new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "GetId");
    bus.call(barrier);
    while (sd_bus_process(bus.get(), nullptr) > 0)
    {
    }
    for (const WatchMatch& m : matches)
    {
        if (m.refused() != 0)
        {
            throw sdbusplus::exception::SdBusError(m.refused(), "sd_bus_match");
        }
    }
}

void WatchKeeper::onInitialHostState(const boost::system::error_code& ec,
                                     const std::variant<std::string>& state)
{
    if (ec)
    {
        log<level::ERR>("Failed to get host state",
                        entry("EC=%s", ec.message().c_str()));
    }
    // After an error, or a reply of another type, the state reads empty.
    const auto* s = std::get_if<std::string>(&state);
    current.hostRunning = hostRunningFromStartup(ec || !s ? std::string() : *s);
}

void WatchKeeper::onHostStateChanged(sdbusplus::message_t& m,
                                     const std::vector<Entry>& hostState)
{
    std::string interface;
    std::map<std::string, std::variant<std::string>> changed;
    try
    {
        m.read(interface, changed);
    }
    catch (const std::exception& e)
    {
        logBadSignal(hostStatePath, hostStateInterface, e);
        return;
    }
    auto it = changed.find("CurrentHostState");
    if (it == changed.end())
    {
        return;
    }
    carryOut(onHostState(hostState, std::get<std::string>(it->second), current),
             hostStatePath, hostStateInterface);
}

void WatchKeeper::onPropertiesChanged(sdbusplus::message_t& m,
                                      const Watch& watch)
{
    std::string interface;
    std::map<std::string, std::variant<bool>> body;
    try
    {
        m.read(interface, body);
    }
    catch (const std::exception& e)
    {
        logBadSignal(watch.path.c_str(), watch.interface.c_str(), e);
        return;
    }
    std::map<std::string, bool> changed;
    for (const auto& [name, value] : body)
    {
        changed.emplace(name, std::get<bool>(value));
    }
    carryOut(property_mon::onPropertiesChanged(watch.rules, changed, current),
             watch.path.c_str(), watch.interface.c_str());
}

void WatchKeeper::carryOut(const Plan& plan, const char* path,
                           const char* interface)
{
    if (plan.error)
    {
        log<level::ERR>(
            "Malformed monitor configuration entry, actions skipped",
            entry("PATH=%s", path), entry("INTERFACE=%s", interface),
            entry("ERROR=%s", plan.error->what.c_str()),
            entry("ENTRY=%s", plan.error->entry.c_str()));
    }
    current = plan.after;
    for (const Effect& effect : plan.effects)
    {
        if (const auto* led = std::get_if<LedWrite>(&effect))
        {
            actuator.setLedAsserted(led->path, led->asserted);
        }
        else
        {
            actuator.runCommand(std::get<RunCommand>(effect).command);
        }
    }
}

void readInitialHostState(sdbusplus::asio::connection& conn,
                          WatchKeeper& keeper)
{
    conn.async_method_call(
        [&keeper](const boost::system::error_code& ec,
                  const std::variant<std::string>& state) {
            keeper.onInitialHostState(ec, state);
        },
        hostStateService, hostStatePath, propertiesInterface, "Get",
        hostStateInterface, "CurrentHostState");
}

} // namespace property_mon
