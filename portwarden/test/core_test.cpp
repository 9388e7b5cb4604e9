// The bus-free core: the filter commands run against a model of the packet
// filter's INPUT chain, and the reading of the signals.
#include "ssh_control.hpp"

#include <stdexcept>
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace portwarden;
using testing::ElementsAre;

const std::string rule = " INPUT -i eth0 -p tcp --dport 22 -j REJECT";

/** iptables: reject rules per interface, and forced exit statuses. */
struct FakeFilter
{
    std::map<std::string, int> rules;
    std::map<char, int> forced;
    int commands = 0;

    RunCommand runner()
    {
        return [this](const std::string& command) {
            ++commands;
            char op = command[15]; // "iptables -w 5 -X INPUT -i NAME ..."
            auto at = command.find("-i ") + 3;
            int& count = rules[command.substr(at, command.find(' ', at) - at)];
            int status = op == 'A' ? (++count, 0) : count > 0 ? 0 : 1;
            count -= op == 'D' && status == 0 ? 1 : 0;
            auto f = forced.find(op);
            return CommandResult{f != forced.end() ? f->second : status, "out"};
        };
    }
};

// The rule count follows the setting, judged from the filter itself, and the
// other interface's rule is never touched.
TEST(SshRuleTest, RuleCountFollowsTheSetting)
{
    for (const auto& [what, before, allowed, after, commands] :
         std::initializer_list<std::tuple<const char*, int, bool, int, int>>{
             {"allow without a rule", 0, true, 0, 1},
             {"block", 0, false, 1, 2},
             {"block when blocked", 1, false, 1, 1},
             {"allow clears stacked rules", 3, true, 0, 4}})
    {
        FakeFilter filter;
        filter.rules = {{"eth0", before}, {"eth1", 1}};
        EXPECT_FALSE(enforceSshRule("eth0", allowed, filter.runner())) << what;
        EXPECT_EQ(filter.rules["eth0"], after) << what;
        EXPECT_EQ(filter.rules["eth1"], 1) << what;
        EXPECT_EQ(filter.commands, commands) << what;
    }
}

TEST(SshRuleTest, FailuresNameTheCommandAndUnknownNamesRunNothing)
{
    for (const auto& [allowed, op, status, commands] :
         std::initializer_list<std::tuple<bool, char, int, int>>{
             {false, 'C', 4, 1}, // filter unreachable: no append after it
             {false, 'A', 2, 2},
             {true, 'D', 4, 1},
             {true, 'D', 0, 256}}) // a delete that never runs out of rules
    {
        FakeFilter filter;
        filter.forced[op] = status;
        auto failure = enforceSshRule("eth0", allowed, filter.runner());
        ASSERT_TRUE(failure) << op << status;
        EXPECT_EQ(failure->status, status);
        EXPECT_EQ(failure->command, std::string("iptables -w 5 -") + op + rule);
        EXPECT_FALSE(failure->output.empty());
        EXPECT_EQ(filter.commands, commands) << op << status;
    }
    // Only the table's names reach the shell; anything else runs nothing.
    for (const char* name : {"eth3", "eth0; reboot", "eth0 -j ACCEPT", ""})
    {
        FakeFilter filter;
        EXPECT_TRUE(enforceSshRule(name, false, filter.runner())) << name;
        EXPECT_TRUE(enforceSshRule(name, true, filter.runner())) << name;
        EXPECT_EQ(filter.commands, 0) << name;
    }
}

TEST(SignalTest, SshValuesAndEthernetInterfacesAreRead)
{
    EXPECT_THAT(sshValues({{"NTPServers", true},
                           {"SSH", true},
                           {"DHCPEnabled", BoolValue{}},
                           {"SSH", false}}),
                ElementsAre(true, false));
    // The daemon logs the text after "Failed to handle SSH change of NAME: ".
    EXPECT_THAT(
        [] {
            sshValues({{"SSH", true}, {"SSH", BoolValue{}}});
        },
        testing::ThrowsMessage<std::invalid_argument>(
            testing::StrEq("SSH is not a boolean")));
    EXPECT_TRUE(addsEthernetInterface({{ethernetInterface, {}}}));
    EXPECT_FALSE(
        addsEthernetInterface({{"xyz.openbmc_project.Network.IP", {}}}));
}
