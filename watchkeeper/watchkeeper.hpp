// The property monitor on the bus: one PropertiesChanged watch for the
// host's state and one per configured interface entry; each signal is read,
// handed to the engine (engine.hpp), and the engine's plan carried out
// through an Actuator.
#pragma once

#include "config.hpp"
#include "engine.hpp"

#include <systemd/sd-bus.h>

#include <boost/system/error_code.hpp>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <sdbusplus/asio/connection.hpp>
#include <sdbusplus/bus.hpp>
#include <sdbusplus/message.hpp>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace property_mon
{

inline constexpr const char* hostStateService =
    "xyz.openbmc_project.State.Host";

/** Where the engine's decisions leave the process: the one seam between
 *  the engine and the bus and shell. */
class Actuator
{
  public:
    virtual ~Actuator() = default;
    /** Sends the write of `Asserted` without waiting for the reply. */
    virtual void setLedAsserted(const std::string& path, bool asserted) = 0;
    /** Runs the command through the system shell and waits for it; its
     *  exit status is not looked at. */
    virtual void runCommand(const std::string& command) = 0;
};

/** LED writes as asynchronous Set calls to the LED group manager, whose
 *  failures are logged ("Failed to set LED state"); commands through
 *  std::system.
 *
 *  At most maxPending writes wait for their replies at once; later ones
 *  queue in order and go out as replies come back.  The bus refuses a
 *  connection more pending calls than its limit (128 on dbus-daemon's
 *  system bus), so a burst of signals sent straight through would lose
 *  writes. */
class BusActuator : public Actuator
{
  public:
    static constexpr std::size_t maxPending = 64;

    explicit BusActuator(sdbusplus::asio::connection& conn) : conn(conn)
    {
    }
    void setLedAsserted(const std::string& path, bool asserted) override;
    void runCommand(const std::string& command) override;

  private:
    sdbusplus::asio::connection& conn;
    std::deque<std::pair<std::string, bool>> queued;
    std::size_t pending = 0;
    bool sending = false;

    void sendQueued();
};

/** One watch's match rule on the bus, removed when this goes away.
 *  Unlike sdbusplus::bus::match_t, which waits for the bus to confirm each
 *  rule in turn, the rule is sent without waiting: WatchKeeper confirms all
 *  its rules with one round trip, so start-up does not grow by a round trip
 *  per watch. */
class WatchMatch
{
  public:
    using Handler = std::function<void(sdbusplus::message_t&)>;

    /** Sends the rule; throws SdBusError when it cannot be sent. */
    WatchMatch(sd_bus* bus, const std::string& rule, Handler handler);

    /** 0 while the bus has not refused the rule, else the errno of its
     *  refusal (known once the bus has answered). */
    int refused() const
    {
        return watch->refused;
    }

  private:
    struct Watch
    {
        Handler handler;
        int refused = 0;
    };
    struct SlotUnref
    {
        void operator()(sd_bus_slot* s) const noexcept
        {
            sd_bus_slot_unref(s);
        }
    };
    // Declared first so the slot, which refers to it, goes away before it.
    std::unique_ptr<Watch> watch;
    std::unique_ptr<sd_bus_slot, SlotUnref> slot;

    static int onSignal(sd_bus_message* m, void* userdata,
                        sd_bus_error* error) noexcept;
    static int onInstalled(sd_bus_message* m, void* userdata,
                           sd_bus_error* error) noexcept;
};

class WatchKeeper
{
  public:
    /** Loads the configuration and registers the host-state watch, then
     *  one watch per interface entry in file order.  Throws when the file
     *  cannot be loaded (config.hpp) or a watch cannot be registered;
     *  nothing is registered then. */
    WatchKeeper(sdbusplus::bus_t& bus, Actuator& actuator,
                const std::filesystem::path& configPath);
    WatchKeeper(const WatchKeeper&) = delete;
    WatchKeeper& operator=(const WatchKeeper&) = delete;
    virtual ~WatchKeeper() = default;

    /** The reply to the start-up read of CurrentHostState: sets the flag,
     *  runs no actions. */
    void onInitialHostState(const boost::system::error_code& ec,
                            const std::variant<std::string>& state);
    void onHostStateChanged(sdbusplus::message_t& m,
                            const std::vector<Entry>& hostState);
    void onPropertiesChanged(sdbusplus::message_t& m, const Watch& watch);

    const State& state() const
    {
        return current;
    }

  private:
    Actuator& actuator;
    State current;
    // Declared last: the watches' handlers use the members above.
    std::vector<WatchMatch> matches;

    /** Waits until the bus has answered every rule; throws if it refused
     *  one. */
    void confirmMatches(sdbusplus::bus_t& bus);
    void carryOut(const Plan& plan, const char* path, const char* interface);
};

/** Sends the start-up read of CurrentHostState; the reply (or a failure to
 *  send) goes to keeper.onInitialHostState. */
void readInitialHostState(sdbusplus::asio::connection& conn,
                          WatchKeeper& keeper);

} // namespace property_mon
