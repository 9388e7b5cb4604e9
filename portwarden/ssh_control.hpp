// The bus-free core of portwarden: which interfaces it handles, the packet
// filter commands that enforce the SSH setting, and the reading of the
// signal bodies it reacts to.  The adapter (ssh_mon.hpp) wires these to the
// bus, the shell and the settings store.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace portwarden
{

inline constexpr const char* networkService = "xyz.openbmc_project.Network";
inline constexpr const char* networkRoot = "/xyz/openbmc_project/network/";
inline constexpr const char* ethernetInterface =
    "xyz.openbmc_project.Network.EthernetInterface";
inline constexpr const char* propertiesInterface =
    "org.freedesktop.DBus.Properties";
inline constexpr const char* interfaceNameProperty = "InterfaceName";
inline constexpr const char* sshProperty = "SSH";
// Section of the settings store shared with ipmid; the key is the
// interface name, the value 0 (blocked) or 1 (allowed).
inline constexpr const char* sshSection = "SshControl";

/** The interfaces portwarden handles and whether SSH is allowed on each
 *  until the operator says otherwise.  Only these names ever reach the
 *  shell. */
extern const std::map<std::string, bool, std::less<>> sshDefaults;

/** The object of the network service that carries the interface. */
std::string objectPath(std::string_view name);

/** Match rule for PropertiesChanged of the interface's Ethernet object. */
std::string sshMonRule(std::string_view name);

/** Filter operations on the interface's reject rule. */
enum class RuleOp
{
    check,  // -C: exit 0 when the rule is there, 1 when it is not
    append, // -A
    remove, // -D: exit 1 when there is no such rule
};

/** The shell command for one operation on the reject rule of `name`, which
 *  must be a key of sshDefaults.  The rule text is the one portwarden has
 *  always used, so rules written by any build are recognised. */
std::string filterCommand(RuleOp op, std::string_view name);

/** What a shell command did: its exit status, or -1 when it did not exit
 *  normally (could not start, killed by a signal), and what it printed. */
struct CommandResult
{
    int status;
    std::string output;
};

using RunCommand = std::function<CommandResult(const std::string&)>;

/** A filter command that failed, with what it said. */
struct FilterFailure
{
    std::string command;
    int status;
    std::string output;
};

/** Makes the packet filter hold exactly one reject rule for `name` when SSH
 *  is blocked and none when it is allowed, judged from the filter itself:
 *  blocking checks first and appends only when the rule is missing;
 *  allowing deletes until no rule is left.  Answers the first command that
 *  failed (the filter may then be left as it was part way).  A name that is
 *  not a key of sshDefaults runs nothing and fails. */
std::optional<FilterFailure> enforceSshRule(std::string_view name, bool allowed,
                                            const RunCommand& run);

/** A variant the reader leaves empty when it holds another type than
 *  bool. */
using BoolValue = std::variant<std::monostate, bool>;
/** The changed-properties dictionary of PropertiesChanged, in signal order
 *  (duplicates kept). */
using ChangedProperties = std::vector<std::pair<std::string, BoolValue>>;

/** The values of every "SSH" entry, in order; other properties are
 *  ignored.  Throws std::invalid_argument, before anything is acted on,
 *  when an "SSH" entry is not a boolean. */
std::vector<bool> sshValues(const ChangedProperties& changed);

/** A variant the reader skips whatever it holds: InterfacesAdded is only
 *  looked at for its interface names. */
using AnyValue = std::variant<std::monostate>;
using InterfaceMap = std::map<std::string, std::map<std::string, AnyValue>>;

/** Whether InterfacesAdded announces a network Ethernet interface. */
bool addsEthernetInterface(const InterfaceMap& interfaces);

} // namespace portwarden
