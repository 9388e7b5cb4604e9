#include "ssh_control.hpp"

#include <sdbusplus/bus/match.hpp>
#include <stdexcept>

namespace portwarden
{

const std::map<std::string, bool, std::less<>> sshDefaults = {
    {"usb0", true},
    {"eth0", true},
    {"eth1", true},
    {"eth2", true},
};

namespace
{

// iptables exits 1 when -C or -D finds no such rule.
constexpr int statusNoRule = 1;

// Each successful delete removes one rule; a filter that keeps answering
// success past this many is not doing what it says.
constexpr int maxRemovals = 256;

// How long a filter command waits for another program's lock on the
// filter before it fails; bounded so that a stuck lock holder cannot stall
// the daemon forever.
constexpr const char* lockWaitSeconds = "5";

} // namespace

std::string objectPath(std::string_view name)
{
    return std::string(networkRoot).append(name);
}

std::string sshMonRule(std::string_view name)
{
    return sdbusplus::bus::match::rules::propertiesChanged(objectPath(name),
                                                           ethernetInterface);
}

std::string filterCommand(RuleOp op, std::string_view name)
{
    const char* flag = op == RuleOp::check    ? "-C"
                       : op == RuleOp::append ? "-A"
                                              : "-D";
    return std::string("iptables -w ") + lockWaitSeconds + " " + flag +
           " INPUT -i " + std::string(name) + " -p tcp --dport 22 -j REJECT";
}

std::optional<FilterFailure> enforceSshRule(std::string_view name, bool allowed,
                                            const RunCommand& run)
{
    // A check or a delete that finds no rule is an answer, not a failure.
    auto failed = [](const std::string& command, const CommandResult& result) {
        return FilterFailure{command, result.status, result.output};
    };

    // The name goes into a shell command line: only the interfaces of the
    // table, whose names are known to be plain words, ever get that far.
    if (!sshDefaults.contains(name))
    {
        return FilterFailure{"", -1, "not an interface of the SSH table"};
    }

    if (!allowed)
    {
        std::string check = filterCommand(RuleOp::check, name);
        CommandResult result = run(check);
        if (result.status == 0)
        {
            return std::nullopt;
        }
        if (result.status != statusNoRule)
        {
            return failed(check, result);
        }
        std::string append = filterCommand(RuleOp::append, name);
        result = run(append);
        if (result.status != 0)
        {
            return failed(append, result);
        }
        return std::nullopt;
    }

    std::string remove = filterCommand(RuleOp::remove, name);
    for (int i = 0; i < maxRemovals; ++i)
    {
        CommandResult result = run(remove);
        if (result.status == statusNoRule)
        {
            return std::nullopt;
        }
        if (result.status != 0)
        {
            return failed(remove, result);
        }
    }
    return FilterFailure{remove, 0, "the rule is still there"};
}

std::vector<bool> sshValues(const ChangedProperties& changed)
{
    std::vector<bool> values;
    for (const auto& [name, value] : changed)
    {
        if (name != sshProperty)
        {
            continue;
        }
        const bool* allowed = std::get_if<bool>(&value);
        if (allowed == nullptr)
        {
            throw std::invalid_argument("SSH is not a boolean");
        }
        values.push_back(*allowed);
    }
    return values;
}

bool addsEthernetInterface(const InterfaceMap& interfaces)
{
    return interfaces.contains(ethernetInterface);
}

} // namespace portwarden
