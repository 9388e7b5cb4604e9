// Hostile strings (quotes, ;, $(), backquotes, newlines) where request bytes,
// EEPROM contents and D-Bus values flow: the only command lines that come out
// are the fixed or configured ones, never text built from those values.
#include "config.hpp"
#include "engine.hpp"
#include "ncsi_select.hpp"
#include "platform.hpp"
#include "restore_default.hpp"
#include "ssh_control.hpp"

#include <regex>
#include <set>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace
{

using testing::Each;
using testing::ElementsAre;

const std::vector<std::string> hostile = {"eth0; reboot",
                                          "$(reboot)",
                                          "`reboot`",
                                          "a' || 'b",
                                          "a\" && \"b",
                                          "x\nreboot",
                                          "x|sh",
                                          "-j ACCEPT",
                                          "",
                                          std::string(300, ';')};

struct RecordingShell : kestrel::Shell, kestrel::restore_default::Sleep
{
    std::vector<std::string> ran;
    int run(const char* command) override
    {
        ran.emplace_back(command);
        return 0;
    }
    void wait(int32_t) override
    {
    }
};

struct Store : kestrel::ncsi_select::SidebandStore
{
    int port() override
    {
        return 0;
    }
    int setPort(uint8_t) override
    {
        return 0;
    }
};

TEST(ShellInput, RequestBytesNeverReachTheCommandLines)
{
    const kestrel::ncsi_select::MacCommands table{"u", "b", "r"};
    for (int port = 0; port < 256; ++port)
    {
        RecordingShell shell;
        Store store;
        uint8_t request[] = {static_cast<uint8_t>(port), ';', '`'};
        kestrel::ncsi_select::setNcsiSelect(request, store, shell, table);
        EXPECT_THAT(shell.ran, ElementsAre("u", "b", "r")) << port;
    }
    for (int32_t seconds : {INT32_MIN, -1, 0, 7, INT32_MAX})
    {
        RecordingShell shell;
        kestrel::restore_default::delayShutdown(seconds, shell, shell);
        EXPECT_THAT(shell.ran, ElementsAre("shutdown")) << seconds;
    }
}

TEST(ShellInput, ChassisIdOnlySelectsConfiguredCommands)
{
    std::string config = R"j({"platforms": [
        {"chassisid": "KST1", "run": "echo one"},
        {"chassisid": "$(x)", "run": "echo two"}]})j";
    for (std::string id : hostile)
    {
        // The EEPROM record of the ID, with its checksum, as the IPMI
        // command stores it.
        kestrel::chassis::Record record{};
        uint8_t sum = 0;
        for (size_t i = 0; i < id.size() && i < kestrel::chassis::maxIdLength;
             ++i)
        {
            record[i] = static_cast<uint8_t>(id[i]);
            sum = static_cast<uint8_t>(sum + record[i]);
        }
        record[kestrel::chassis::maxIdLength] = static_cast<uint8_t>(-sum);
        std::istringstream in(config);
        std::vector<std::string> ran;
        boardpilot::runPlatformCommands(
            in, boardpilot::platformKey(record),
            [&](const auto& c) { ran.push_back(c); });
        EXPECT_THAT(ran, Each(testing::AnyOf("echo one", "echo two"))) << id;
        std::istringstream again(config);
        ran.clear();
        boardpilot::runPlatformCommands(
            again, id, [&](const auto& c) { ran.push_back(c); });
        EXPECT_THAT(ran, Each(testing::AnyOf("echo one", "echo two"))) << id;
    }
}

TEST(ShellInput, BusValuesOnlyChooseConfiguredCommands)
{
    std::istringstream in(R"({"hoststate": [
        {"value": 0, "actions": [{"run": ["off"]}]},
        {"value": 1, "actions": [{"run": ["on"]}]}],
      "monitors": [{"path": "/p", "interfaces": [{"name": "a.B", "properties": {
        "Functional": [{"value": false, "actions": [{"run": ["failed"]}]}]}}]}]})");
    auto config = property_mon::loadConfig(in);
    const std::set<std::string> configured = {"off", "on", "failed"};
    auto commands = [&](const property_mon::Plan& plan) {
        for (const auto& e : plan.effects)
        {
            if (auto* run = std::get_if<property_mon::RunCommand>(&e))
            {
                EXPECT_TRUE(configured.contains(run->command)) << run->command;
            }
        }
        return plan.effects.size();
    };
    for (const std::string& s : hostile)
    {
        EXPECT_EQ(commands(property_mon::onHostState(config.hostState, s, {})),
                  0u)
            << s;
        commands(property_mon::onPropertiesChanged(
            config.watches.at(0).rules, {{s, false}, {"Functional", false}},
            {}));
    }
}

TEST(ShellInput, FilterCommandsAreLiteralsAndATableName)
{
    const std::regex plain("iptables -w 5 -[CAD] INPUT -i [a-z0-9]+ -p tcp "
                           "--dport 22 -j REJECT");
    for (const auto& [name, allowed] : portwarden::sshDefaults)
    {
        for (auto op : {portwarden::RuleOp::check, portwarden::RuleOp::append,
                        portwarden::RuleOp::remove})
        {
            EXPECT_TRUE(
                std::regex_match(portwarden::filterCommand(op, name), plain))
                << name;
        }
    }
}

} // namespace
