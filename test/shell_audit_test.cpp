// Hostile strings (quotes, ;, $(), backquotes, newlines) where request bytes,
// EEPROM contents and D-Bus values flow: the only command lines that come out
// are the fixed or configured ones, never text built from those values.
#include "chassis_record.hpp"
#include "config.hpp"
#include "core/fakes.hpp"
#include "engine.hpp"
#include "ncsi_select.hpp"
#include "platform.hpp"
#include "ssh_control.hpp"

#include <regex>
#include <set>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace
{

using testing::AnyOf;
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

/** Logs the shell's commands only; the store answers 0. */
struct Recording : kestrel::Shell,
                   kestrel::ncsi_select::SidebandStore,
                   kestrel::test::Recorder
{
    FAKE(int, run, (const char* command), command);
    int port() override
    {
        return 0;
    }
    int setPort(uint8_t) override
    {
        return 0;
    }
};

TEST(ShellInput, RequestBytesAndTheChassisIdOnlySelectFixedCommands)
{
    const kestrel::ncsi_select::MacCommands table{"u", "b", "r"};
    for (int port = 0; port < 256; ++port)
    {
        Recording shell;
        uint8_t request[] = {static_cast<uint8_t>(port), ';', '`'};
        kestrel::ncsi_select::setNcsiSelect(request, shell, shell, table);
        EXPECT_THAT(shell.calls, ElementsAre("run u", "run b", "run r"))
            << port;
    }
    const std::string config = R"j({"platforms": [
        {"chassisid": "KST1", "run": "echo one"},
        {"chassisid": "$(x)", "run": "echo two"}]})j";
    for (const std::string& id : hostile)
    {
        // The EEPROM record as Set Chassis ID stores the ID, and the ID.
        std::vector<uint8_t> bytes(id.begin(), id.end());
        bytes.resize(std::min<size_t>(bytes.size(), 32));
        auto record = kestrel::chassis::encodeRecord(bytes);
        for (const auto& key : {boardpilot::platformKey(record), id})
        {
            std::istringstream in(config);
            std::vector<std::string> ran;
            boardpilot::runPlatformCommands(
                in, key, [&](const auto& c) { ran.push_back(c); });
            EXPECT_THAT(ran, Each(AnyOf("echo one", "echo two"))) << id;
        }
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
    // The filter commands: literals and a name of the defaults table.
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
