// The bus-free core: the filter commands run against a model of the packet
// filter's INPUT chain, and the reading of PropertiesChanged.
#include "ssh_control.hpp"

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace portwarden;
using testing::ElementsAre;

namespace
{

const std::string rule = " INPUT -i eth0 -p tcp --dport 22 -j REJECT";

/** iptables as portwarden uses it: reject rules counted per interface,
 *  and an exit status a test can force for one operation (C, A or D). */
struct FakeFilter
{
    std::map<std::string, int> rules;
    std::map<char, int> forced;
    int commands = 0;

    RunCommand runner()
    {
        return [this](const std::string& command) {
            ++commands;
            // "iptables -w 5 -X INPUT -i NAME ..."
            char op = command[15];
            auto at = command.find("-i ") + 3;
            int& count = rules[command.substr(at, command.find(' ', at) - at)];
            int status = op == 'A' ? (++count, 0) : count > 0 ? 0 : 1;
            if (op == 'D' && status == 0)
            {
                --count;
            }
            auto f = forced.find(op);
            return CommandResult{f != forced.end() ? f->second : status, "out"};
        };
    }
};

} // namespace

// The rules follow the last setting however often each came, and the
// other interface's rule is never touched.
TEST(SshRuleTest, RuleCountFollowsTheLastSetting)
{
    struct Case
    {
        const char* what;
        int before;
        std::vector<bool> settings;
        int after;
        int commands;
    } cases[] = {
        {"allow without a rule", 0, {true}, 0, 1},
        {"block", 0, {false}, 1, 2},
        {"block when blocked", 1, {false}, 1, 1},
        {"block twice, allow once", 0, {false, false, true}, 0, 5},
        {"allow clears stacked rules", 3, {true}, 0, 4},
    };
    for (const auto& c : cases)
    {
        FakeFilter filter;
        filter.rules = {{"eth0", c.before}, {"eth1", 1}};
        for (bool allowed : c.settings)
        {
            EXPECT_FALSE(enforceSshRule("eth0", allowed, filter.runner()))
                << c.what;
        }
        EXPECT_EQ(filter.rules["eth0"], c.after) << c.what;
        EXPECT_EQ(filter.rules["eth1"], 1) << c.what;
        EXPECT_EQ(filter.commands, c.commands) << c.what;
    }
}

TEST(SshRuleTest, FailuresNameTheCommandAndStatus)
{
    struct Case
    {
        bool allowed;
        char op;
        int status;
        int commands;
    } cases[] = {
        {false, 'C', 4, 1},  // filter unreachable: no append after it
        {false, 'C', -1, 1}, // killed
        {false, 'A', 2, 2},  {true, 'D', 4, 1},
        {true, 'D', 0, 256}, // a delete that never runs out of rules
    };
    for (const auto& c : cases)
    {
        FakeFilter filter;
        filter.forced[c.op] = c.status;
        auto failure = enforceSshRule("eth0", c.allowed, filter.runner());
        ASSERT_TRUE(failure) << c.op << c.status;
        EXPECT_EQ(failure->status, c.status);
        EXPECT_EQ(failure->command,
                  std::string("iptables -w 5 -") + c.op + rule);
        EXPECT_FALSE(failure->output.empty());
        EXPECT_EQ(filter.commands, c.commands) << c.op << c.status;
    }
}

TEST(SshValuesTest, TakesEverySshEntryAndRefusesOtherTypes)
{
    EXPECT_THAT(sshValues({{"NTPServers", true},
                           {"SSH", true},
                           {"DHCPEnabled", BoolValue{}},
                           {"SSH", false}}),
                ElementsAre(true, false));
    EXPECT_TRUE(sshValues({{"DHCPEnabled", false}}).empty());
    EXPECT_THROW(sshValues({{"SSH", true}, {"SSH", BoolValue{}}}),
                 std::invalid_argument);
}
