// The monitor's configuration model and the engine's decisions, without a
// bus: each case is a configuration, a signal and the effects it must give.
#include "config.hpp"
#include "engine.hpp"

#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace
{

using namespace property_mon;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

Config load(const std::string& json)
{
    std::istringstream in(json);
    return loadConfig(in);
}

/** Effects as text: "led PATH 0|1" and "run CMD". */
std::vector<std::string> texts(const Plan& plan)
{
    std::vector<std::string> out;
    for (const Effect& e : plan.effects)
    {
        if (const auto* led = std::get_if<LedWrite>(&e))
        {
            out.push_back("led " + led->path + (led->asserted ? " 1" : " 0"));
        }
        else
        {
            out.push_back("run " + std::get<RunCommand>(e).command);
        }
    }
    return out;
}

const std::string sf = "led /xyz/openbmc_project/led/groups/system_fault";

/** One watch whose "properties" is `properties`. */
std::vector<PropertyRule> rulesOf(const std::string& properties)
{
    auto c = load(R"({"monitors": [{"path": "/p", "interfaces": [{"name": "a.B",
                     "properties": )" +
                  properties + "}]}]}");
    return c.watches.at(0).rules;
}

// --- Loading -----------------------------------------------------------------

TEST(Config, RulesFollowFileOrderAndObjectsAreWalkedByMemberName)
{
    EXPECT_THAT(watchRules(load("{}")),
                ElementsAre("type='signal',path='/xyz/openbmc_project/state/"
                            "host0',member='PropertiesChanged',interface='org."
                            "freedesktop.DBus.Properties',arg0='xyz.openbmc_"
                            "project.State.Host',"));
    auto c = load(R"({"monitors": {
        "b": {"path": "/b", "interfaces": [{"name": "i.Z"}]},
        "a": {"path": "/a", "interfaces": {"y": {"name": "i.Y"},
                                           "x": {"name": "i.X"}}}},
        "other": 5})");
    auto rules = watchRules(c);
    ASSERT_EQ(rules.size(), 4U);
    EXPECT_EQ(rules[1], "type='signal',path='/a',member='PropertiesChanged',"
                        "interface='org.freedesktop.DBus.Properties',"
                        "arg0='i.X',");
    EXPECT_THAT(rules[2], HasSubstr("path='/a',member"));
    EXPECT_THAT(rules[2], HasSubstr("arg0='i.Y',"));
    EXPECT_THAT(rules[3], HasSubstr("path='/b',member"));
    EXPECT_THAT(rules[3], HasSubstr("arg0='i.Z',"));
}

TEST(Config, NumbersReadAsSigned32BitIntegers)
{
    auto c = load(R"({"hoststate": [{"value": true, "actions": []},
        {"value": 0.7, "actions": []}, {"value": 2, "actions": []},
        {"value": -1, "actions": []}, {"value": -2.9, "actions": []},
        {"value": 1e12, "actions": []}, {"value": "1", "actions": []}]})");
    ASSERT_EQ(c.hostState.size(), 7U);
    std::vector<int32_t> values;
    for (std::size_t i = 0; i < 6; ++i)
    {
        EXPECT_FALSE(c.hostState[i].valueError) << i;
        values.push_back(c.hostState[i].value);
    }
    EXPECT_THAT(values, ElementsAre(1, 0, 2, -1, -2, 2147483647));
    ASSERT_TRUE(c.hostState[6].valueError);
    EXPECT_THAT(c.hostState[6].valueError->what, HasSubstr("type_error.302"));
}

TEST(Config, ActionMembersAreStepsInNameOrder)
{
    auto c = load(R"({"hoststate": [{"value": 0, "actions": [
        {"run": ["a"], "led": ["/p", 1], "note": "ignored"}]}]})");
    const auto& a = c.hostState.at(0).actions.at(0);
    EXPECT_THAT(a.steps,
                ElementsAre(Step{LedWrite{"/p", true}}, Step{RunCommand{"a"}}));
}

TEST(Config, LoadErrorsStopStartUpWithAMessage)
{
    // The JSON library's own errors, and watches that could never match.
    struct Case
    {
        const char* json;
        const char* message;
    };
    for (
        const Case& c : std::initializer_list<Case>{
            {"", "parse_error.101"},
            {"{} // no comments", "parse_error.101"},
            {"[]", "type_error.306"},
            {R"({"hoststate": 1, "monitors": [5]})", "type_error.306"},
            {R"({"monitors": [{"path": 5}]})", "type_error.302"},
            {R"({"monitors": [{"path": "/p", "interfaces": ["x"]}]})",
             "type_error.306"},
            {R"({"monitors": [{"path": "/p", "interfaces": [{"name": 1}]}]})",
             "type_error.302"},
            {R"({"monitors": [{"interfaces": [{"name": "a.B"}]}]})",
             "monitor 0: \"path\" is missing"},
            {R"({"monitors": [{}, {"path": "p", "interfaces": [{}]}]})",
             "monitor 1: \"p\" is not a D-Bus object path"},
            {R"({"monitors": [{"path": "/p", "interfaces": [{}]}]})",
             "interface 0: \"name\" is missing"},
            {R"({"monitors": [{"path": "/p", "interfaces": [{"name": "a'"}]}]})",
             "not a D-Bus interface name"},
        })
    {
        EXPECT_THAT(
            [&] { load(c.json); },
            testing::ThrowsMessage<std::exception>(HasSubstr(c.message)))
            << c.json;
    }
}

// --- Host state
// ------------------------------------------------------------------

TEST(Engine, HostStateActionsRunOnEveryOffOrRunningSignal)
{
    auto c = load(R"({"hoststate": [
        {"value": 0, "actions": [{"run": ["off"]}]},
        {"value": 1, "actions": [{"run": ["on"], "condition": ["hoststate", 0]}]}]})");
    State s;
    std::vector<std::vector<std::string>> ran;
    for (const char* state :
         {hostStateOff, hostStateRunning, hostStateRunning,
          "xyz.openbmc_project.State.Host.HostState.TransitioningToOff"})
    {
        Plan p = onHostState(c.hostState, state, s);
        ran.push_back(texts(p));
        s = p.after;
    }
    // "condition" does not gate host-state actions; a transitional state
    // changes nothing and keeps the flag.
    EXPECT_THAT(ran, ElementsAre(ElementsAre("run off"), ElementsAre("run on"),
                                 ElementsAre("run on"), IsEmpty()));
    EXPECT_TRUE(s.hostRunning);
    EXPECT_TRUE(hostRunningFromStartup(""));
    EXPECT_TRUE(hostRunningFromStartup(hostStateRunning));
    EXPECT_FALSE(hostRunningFromStartup(hostStateOff));
}

TEST(Engine, HostStateGatesConditionEntries)
{
    auto rules = rulesOf(R"([{"Functional": [
        {"value": 0, "actions": [{"condition": ["hoststate", 0], "run": ["a"]},
                                 {"run": ["b"]}]},
        {"value": 0, "actions": [{"condition": ["hoststate", 1], "run": ["c"]},
                                 {"condition": ["other", 0], "run": ["d"]}]}]}])");
    // After a failed start-up read the host counts as running.
    State running{hostRunningFromStartup(""), 0, 0};
    EXPECT_THAT(
        texts(onPropertiesChanged(rules, {{"Functional", false}}, running)),
        ElementsAre("run c", "run d"));
    EXPECT_THAT(
        texts(onPropertiesChanged(rules, {{"Functional", false}}, State{})),
        ElementsAre("run a", "run b"));
}

// --- Properties and fault masks
// -------------------------------------------------

TEST(Engine, FaultMasksDriveTheSystemFaultLed)
{
    auto rules = rulesOf(R"([{"Fan": [
        {"value": 1, "actions": [{"FanFail": ["assert", 2]}]},
        {"value": 0, "actions": [{"FanFail": ["deassert", 2]}]}],
      "Hot": [
        {"value": 1, "actions": [{"ThermalHot": ["assert", 0]}]},
        {"value": 0, "actions": [{"ThermalHot": ["clear", 0]}]}]}])");
    struct Change
    {
        const char* property;
        bool value;
        const char* led;
        uint8_t fan;
        uint8_t hot;
    };
    State s;
    for (const Change& step : {Change{"Fan", true, " 1", 0x04, 0x00},
                               Change{"Hot", true, " 1", 0x04, 0x01},
                               Change{"Fan", false, " 1", 0x00, 0x01},
                               Change{"Hot", false, " 0", 0x00, 0x00}})
    {
        Plan p = onPropertiesChanged(rules, {{step.property, step.value}}, s);
        EXPECT_THAT(texts(p), ElementsAre(sf + step.led)) << step.property;
        EXPECT_EQ(p.after.fanFailMask, step.fan);
        EXPECT_EQ(p.after.thermalHotMask, step.hot);
        s = p.after;
    }
}

TEST(Engine, FaultPassWritesTheLedAfterEveryMember)
{
    auto rules = rulesOf(R"([{"P": [{"value": 1, "actions": [
        {"FanFail": ["assert", 8]},
        {"ThermalHot": ["assert", -1]},
        {"MemMultiBitError": ["assert", 1]},
        {"FanFail": ["assert", 1], "condition": ["hoststate", 0],
         "led": ["/l", 1]},
        {"ThermalHot": ["assert", 3], "MemMultiBitError": ["x", 0]}]}]}])");
    Plan p = onPropertiesChanged(rules, {{"P", true}}, State{});
    // Bits outside 0..7 and memory errors change no mask but still write
    // the LED.  The fourth object's pass visits its three members, then its
    // own "led" member writes /l; the last object has two fault members,
    // each starting a pass over both.
    EXPECT_THAT(texts(p),
                ElementsAre(sf + " 0", sf + " 0", sf + " 0", sf + " 1",
                            sf + " 1", sf + " 1", "led /l 1", sf + " 1",
                            sf + " 1", sf + " 1", sf + " 1"));
    EXPECT_EQ(p.after, (State{false, 0x02, 0x08}));
}

TEST(Engine, LedActionWritesOnlyItsGroupAndMatchingIsByValue)
{
    auto rules = rulesOf(R"([{"P": [
        {"value": 1, "actions": [{"led": ["/xyz/openbmc_project/led/groups/fan_fault", 2]}]},
        {"value": 2, "actions": [{"run": ["never"]}]},
        {"value": 0.7, "actions": [{"run": ["false"]}]}]},
      {"P": [{"value": true, "actions": [{"run": ["second table"]}]}]}])");
    State faulty{true, 0x01, 0x00};
    Plan p = onPropertiesChanged(rules, {{"P", true}, {"Q", false}}, faulty);
    EXPECT_THAT(texts(p),
                ElementsAre("led /xyz/openbmc_project/led/groups/fan_fault 1",
                            "run second table"));
    EXPECT_EQ(p.after, faulty);
    EXPECT_THAT(texts(onPropertiesChanged(rules, {{"P", false}}, faulty)),
                ElementsAre("run false"));
    EXPECT_THAT(texts(onPropertiesChanged(rules, {{"Q", true}}, faulty)),
                IsEmpty());
}

// --- Malformed entries
// ------------------------------------------------------------

TEST(Engine, MalformedEntryOnTheReadPathSkipsTheWholeSignal)
{
    // Each follows a well-formed entry that would assert a fan fault: none
    // of the signal's actions may run and no mask may change.
    const std::string good =
        R"({"value": 1, "actions": [{"FanFail": ["assert", 0]}]})";
    for (const char* bad : {
             R"({"actions": []})",
             R"({"value": "1", "actions": []})",
             R"({"value": 1})",
             R"({"value": 1, "actions": 5})",
             R"({"value": 1, "actions": [["led", "/p"]]})",
             R"({"value": 1, "actions": [{"led": ["/p"]}]})",
             R"({"value": 1, "actions": [{"led": "/p"}]})",
             R"({"value": 1, "actions": [{"ThermalHot": ["assert", 1],
                                          "run": ["x"]}]})",
             R"({"value": 1, "actions": [{"condition": ["hoststate"]}]})",
             R"({"value": 1, "actions": [{"run": [1]}]})",
         })
    {
        auto rules = rulesOf("[{\"P\": [" + good + ", " + bad + "]}]");
        Plan p = onPropertiesChanged(rules, {{"P", true}}, State{});
        ASSERT_TRUE(p.error) << bad;
        EXPECT_THAT(p.effects, IsEmpty()) << bad;
        EXPECT_EQ(p.after, State{}) << bad;
        EXPECT_EQ(nlohmann::json::parse(p.error->entry),
                  nlohmann::json::parse(bad));
    }
    auto table = rulesOf(R"([{"P": []}, 5])");
    EXPECT_TRUE(onPropertiesChanged(table, {{"Q", true}}, State{}).error);
}

TEST(Engine, MalformedPartsOffTheReadPathAreNotRead)
{
    auto rules = rulesOf(R"([{"P": [
        {"value": 0, "actions": 5},
        {"value": 1, "actions": [{"condition": ["hoststate", 1], "run": ["a"]},
                                 {"led": ["/p"]}]},
        {"value": 1, "actions": [{"run": ["b"]}]}]}])");
    Plan p = onPropertiesChanged(rules, {{"P", true}}, State{});
    EXPECT_FALSE(p.error);
    EXPECT_THAT(texts(p), ElementsAre("run b"));

    auto host = load(R"({"hoststate": [{"value": 1, "actions": 5},
        {"value": 0, "actions": [{"condition": 5, "run": ["off"]}]}]})");
    Plan off = onHostState(host.hostState, hostStateOff, State{true, 1, 0});
    EXPECT_THAT(texts(off), ElementsAre("run off"));
    Plan on = onHostState(host.hostState, hostStateRunning, State{false, 1, 0});
    ASSERT_TRUE(on.error);
    EXPECT_THAT(on.effects, IsEmpty());
    // The flag follows the host even when its actions are refused.
    EXPECT_EQ(on.after, (State{true, 1, 0}));
}

} // namespace
