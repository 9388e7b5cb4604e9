// The monitor engine's decisions: what one signal does, as a value.
//
// Each function takes the configuration a watch holds and the state before
// the signal, and returns a Plan: the LED writes and shell commands to carry
// out, in order, and the state after them.  Nothing here touches the bus or
// the shell, so the rules can be checked case by case without either.
//
// A signal whose handling would read a malformed entry yields a Plan with
// `error` set, no effects and the masks unchanged: nothing of that signal is
// acted on, not even the well-formed entries before the bad one.
#pragma once

#include "config.hpp"

#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace property_mon
{

inline constexpr const char* systemFaultLed =
    "/xyz/openbmc_project/led/groups/system_fault";

inline constexpr const char* hostStateOff =
    "xyz.openbmc_project.State.Host.HostState.Off";
inline constexpr const char* hostStateRunning =
    "xyz.openbmc_project.State.Host.HostState.Running";

/** What the daemon remembers between signals.  Nothing is persisted: every
 *  start begins from this initial state. */
struct State
{
    /** True while the host is taken as not Off. */
    bool hostRunning = false;
    /** One bit per fan-failure source. */
    uint8_t fanFailMask = 0;
    /** One bit per over-temperature source. */
    uint8_t thermalHotMask = 0;

    bool operator==(const State&) const = default;
};

/** An outside effect, carried out in order. */
using Effect = std::variant<LedWrite, RunCommand>;

struct Plan
{
    std::vector<Effect> effects;
    State after;
    std::optional<ShapeError> error;
};

/** The host-running flag after the start-up read of CurrentHostState: only
 *  Off counts as not running, so a failed read (empty state) counts as
 *  running. */
bool hostRunningFromStartup(const std::string& currentHostState);

/** A CurrentHostState change: Off and Running set the flag and run the
 *  host-state entries whose value equals it (on every such signal, even
 *  when the flag did not change); any other state changes nothing. */
Plan onHostState(const std::vector<Entry>& hostState,
                 const std::string& currentHostState, const State& before);

/** The host-state entries whose "value" equals the flag in `state`. */
Plan runHostStateActions(const std::vector<Entry>& hostState,
                         const State& before);

/** A PropertiesChanged of a watch: the changed properties' new values
 *  (a value of another type than boolean reads as false). */
Plan onPropertiesChanged(const std::vector<PropertyRule>& rules,
                         const std::map<std::string, bool>& changed,
                         const State& before);

/** Appends the effects of one action object to `plan`, updating
 *  plan.after. */
void runAction(const ActionObject& action, Plan& plan);

/** Appends the system-fault LED write the masks in plan.after ask for. */
void setSystemFaultLed(Plan& plan);

} // namespace property_mon
