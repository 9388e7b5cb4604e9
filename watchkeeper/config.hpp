// The property monitor's configuration, parsed once at start-up into plain
// structures.
//
// The file names what to watch (object path, interface, property) and what
// to do when a watched property takes a value.  The members that name the
// watches ("monitors", "path", "interfaces", "name", "properties",
// "hoststate") are checked while loading: a wrong type there stops start-up.
// The members read when a signal is handled (condition entries, host-state
// entries, action objects) are parsed too, but a wrong shape there is kept
// as a ShapeError beside the entry and only matters when a signal would read
// it: the engine then skips that signal's actions (engine.hpp).
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace property_mon
{

/** The host-state watch: CurrentHostState of this object and interface. */
inline constexpr const char* hostStatePath = "/xyz/openbmc_project/state/host0";
inline constexpr const char* hostStateInterface =
    "xyz.openbmc_project.State.Host";

/** Why an entry cannot be acted on: the JSON library's message and the
 *  entry's JSON text, for the journal. */
struct ShapeError
{
    std::string what;
    std::string entry;

    bool operator==(const ShapeError&) const = default;
};

/** Write `Asserted` of the LED group at `path`. */
struct LedWrite
{
    std::string path;
    bool asserted = false;

    bool operator==(const LedWrite&) const = default;
};

enum class FaultKind : uint8_t
{
    fanFail,
    thermalHot,
    memMultiBitError,
    other, // any other member of a fault object: changes no mask
};

/** One member of a fault object: set (assert) or clear `bit` in the mask of
 *  `kind`.  `bit` is the mask bit itself, 0 when the bit number lies
 *  outside 0..7. */
struct FaultUpdate
{
    FaultKind kind = FaultKind::other;
    bool assert = false;
    uint8_t bit = 0;

    bool operator==(const FaultUpdate&) const = default;
};

/** All members of a fault object, in member-name order; each is followed
 *  by a write of the system-fault LED. */
struct FaultPass
{
    std::vector<FaultUpdate> updates;

    bool operator==(const FaultPass&) const = default;
};

/** A command for the system shell. */
struct RunCommand
{
    std::string command;

    bool operator==(const RunCommand&) const = default;
};

using Step = std::variant<LedWrite, FaultPass, RunCommand>;

/** ["hoststate", v]: the action object runs only while the host-running
 *  flag equals v.  Another name does not gate. */
struct Gate
{
    std::string name;
    int32_t value = 0;
};

/** One action object: its steps in member-name order. */
struct ActionObject
{
    /** Set when the "condition" member (read only in condition entries)
     *  is malformed, or the object is not an object. */
    std::optional<ShapeError> gateError;
    std::optional<Gate> gate;
    /** Set when a member the steps read is malformed (the steps are then
     *  empty), or the object is not an object. */
    std::optional<ShapeError> stepsError;
    std::vector<Step> steps;
};

/** A condition entry ({"value", "actions"}) or a host-state entry. */
struct Entry
{
    std::optional<ShapeError> valueError;
    int32_t value = 0;
    std::optional<ShapeError> actionsError;
    std::vector<ActionObject> actions;
};

/** The condition entries of one property, or the error met walking a
 *  property table that is not an object (property is then empty). */
struct PropertyRule
{
    std::optional<ShapeError> tableError;
    std::string property;
    std::vector<Entry> entries;
};

/** One watch: PropertiesChanged of `interface` on `path`, and the rules of
 *  its "properties", in table order and, within a table, property-name
 *  order. */
struct Watch
{
    std::string path;
    std::string interface;
    std::vector<PropertyRule> rules;
};

struct Config
{
    std::vector<Entry> hostState;
    std::vector<Watch> watches;
};

/** Parses the whole document.  Throws the JSON library's exception for
 *  invalid JSON (an empty or unreadable stream included) and for a wrong
 *  type among the members read at load, and std::invalid_argument for a
 *  watch that names no path or interface, or one the bus would refuse. */
Config loadConfig(std::istream& in);

/** One problem of a configuration: its place in the document (a JSON
 *  pointer, empty for the whole document) and what is wrong there. */
struct Problem
{
    std::string path;
    std::string message;

    bool operator==(const Problem&) const = default;
};

/** Reads the document as loadConfig does and answers every problem the
 *  daemon would meet with it, at start-up or only when a signal reads the
 *  entry: what loadConfig refuses, what would keep a signal's actions from
 *  running, and what the daemon silently passes over (an unknown action
 *  member, a bit number outside 0 to 7, a "value" that never matches, a
 *  "condition" in a host-state entry).  Empty when there is none.  A
 *  document that does not parse is one problem at the top. */
std::vector<Problem> checkConfig(std::istream& in);

/** The match rule of a watch: PropertiesChanged of interface `interface`
 *  on object `path`. */
std::string watchRule(const std::string& path, const std::string& interface);

/** The rules of every watch of `config`, in the order they are registered:
 *  the host state's first, then one per interface entry in file order. */
std::vector<std::string> watchRules(const Config& config);

} // namespace property_mon
