// The monitor's configuration model and the engine's decisions, without a
// bus: each case is a configuration, a signal and the effects it must give.
#include "config.hpp"
#include "engine.hpp"

#include <nlohmann/json.hpp>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace
{

using namespace property_mon;
using testing::AllOf;
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
        const auto* led = std::get_if<LedWrite>(&e);
        out.push_back(led ? "led " + led->path + (led->asserted ? " 1" : " 0")
                          : "run " + std::get<RunCommand>(e).command);
    }
    return out;
}

const std::string sf = "led /xyz/openbmc_project/led/groups/system_fault";

/** One PropertiesChanged of a watch whose "properties" is `properties`. */
Plan signal(const std::string& properties,
            const std::map<std::string, bool>& changed, const State& s = {})
{
    auto c = load(R"({"monitors": [{"path": "/p", "interfaces": [{"name": "a.B",
                     "properties": )" +
                  properties + "}]}]}");
    return onPropertiesChanged(c.watches.at(0).rules, changed, s);
}

TEST(Config, RulesFollowFileOrderAndObjectsAreWalkedByMemberName)
{
    // The host state's rule comes first, then one per interface entry.
    EXPECT_THAT(
        watchRules(load(R"({"monitors": {
        "b": {"path": "/b", "interfaces": [{"name": "i.Z"}]},
        "a": {"path": "/a", "interfaces": {"y": {"name": "i.Y"},
                                           "x": {"name": "i.X"}}}},
        "other": 5})")),
        ElementsAre(
            HasSubstr("arg0='xyz.openbmc_project.State.Host',"),
            "type='signal',path='/a',member='PropertiesChanged',"
            "interface='org.freedesktop.DBus.Properties',arg0='i.X',",
            AllOf(HasSubstr("path='/a',member"), HasSubstr("arg0='i.Y',")),
            AllOf(HasSubstr("path='/b',member"), HasSubstr("arg0='i.Z',"))));
}

TEST(Config, NumbersAreSigned32BitAndActionMembersAreStepsInNameOrder)
{
    auto c = load(R"({"hoststate": [{"value": true, "actions": []},
        {"value": 0.7, "actions": []}, {"value": 2, "actions": []},
        {"value": -1, "actions": []}, {"value": -2.9, "actions": []},
        {"value": 1e12, "actions": []}, {"value": "1", "actions": [
        {"run": ["a"], "led": ["/p", 1], "note": "ignored"}]}]})");
    std::vector<std::string> values; // the value, or the error met reading it
    for (const Entry& e : c.hostState)
    {
        values.push_back(e.valueError ? e.valueError->what
                                      : std::to_string(e.value));
    }
    EXPECT_THAT(values, ElementsAre("1", "0", "2", "-1", "-2", "2147483647",
                                    HasSubstr("type_error.302")));
    EXPECT_THAT(c.hostState.at(6).actions.at(0).steps,
                ElementsAre(Step{LedWrite{"/p", true}}, Step{RunCommand{"a"}}));
}

TEST(Config, LoadErrorsStopStartUpWithAMessage)
{
    // The JSON library's own errors, and watches that could never match.
    for (
        const auto& [json, message] :
        std::initializer_list<std::pair<const char*, const char*>>{
            {"{} // no comments", "parse_error.101"},
            {"[]", "type_error.306"},
            {R"({"hoststate": 1, "monitors": [5]})", "type_error.306"},
            {R"({"monitors": [{"path": 5}]})", "type_error.302"},
            {R"({"monitors": [{"interfaces": ["x"]}]})", "type_error.306"},
            {R"({"monitors": [{"interfaces": [{"name": 1}]}]})",
             "type_error.302"},
            {R"({"monitors": [{"interfaces": [{"name": "a.B"}]}]})",
             "monitor 0: \"path\" is missing"},
            {R"({"monitors": [{}, {"path": "p", "interfaces": [{}]}]})",
             "monitor 1: \"p\" is not a D-Bus object path"},
            {R"({"monitors": [{"path": "/p", "interfaces": [{}]}]})",
             "interface 0: \"name\" is missing"},
            {R"({"monitors": [{"path": "/p", "interfaces": [{"name": "a'"}]}]})",
             "not a D-Bus interface name"}})
    {
        EXPECT_THAT([&] { load(json); },
                    testing::ThrowsMessage<std::exception>(HasSubstr(message)))
            << json;
    }
}

TEST(Engine, HostStateActionsRunOnOffOrRunningAndGateConditionEntries)
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
    EXPECT_FALSE(hostRunningFromStartup(hostStateOff));

    const char* gated = R"([{"Functional": [
        {"value": 0, "actions": [{"condition": ["hoststate", 0], "run": ["a"]},
                                 {"run": ["b"]}]},
        {"value": 0, "actions": [{"condition": ["hoststate", 1], "run": ["c"]},
                                 {"condition": ["other", 0], "run": ["d"]}]}]}])";
    // After a failed start-up read the host counts as running.
    State running{hostRunningFromStartup(""), 0, 0};
    EXPECT_THAT(texts(signal(gated, {{"Functional", false}}, running)),
                ElementsAre("run c", "run d"));
    EXPECT_THAT(texts(signal(gated, {{"Functional", false}})),
                ElementsAre("run a", "run b"));
}

TEST(Engine, FaultPassesWriteTheSystemFaultLedAndLedActionsOnlyTheirGroup)
{
    // Bits outside 0..7 and memory errors change no mask but still write the
    // LED; any operation but "assert" clears the bit.  Each fault member of
    // an object starts a pass over all of them, before its "led" writes /l.
    Plan p = signal(R"([{"P": [{"value": 1, "actions": [
        {"FanFail": ["assert", 8]}, {"ThermalHot": ["assert", -1]},
        {"MemMultiBitError": ["assert", 1]},
        {"FanFail": ["assert", 1], "condition": ["hoststate", 0],
         "led": ["/l", 1]},
        {"ThermalHot": ["assert", 3], "FanFail": ["x", 1]}]}]}])",
                    {{"P", true}});
    EXPECT_THAT(texts(p),
                ElementsAre(sf + " 0", sf + " 0", sf + " 0", sf + " 1",
                            sf + " 1", sf + " 1", "led /l 1", sf + " 0",
                            sf + " 1", sf + " 1", sf + " 1"));
    EXPECT_EQ(p.after, (State{false, 0x00, 0x08}));

    // An "led" action writes only its group, matching is by value and every
    // table of a property acts.
    const char* rules = R"([{"P": [
        {"value": 1, "actions": [{"led": ["/xyz/openbmc_project/led/groups/fan_fault", 2]}]},
        {"value": 2, "actions": [{"run": ["never"]}]}]},
      {"P": [{"value": true, "actions": [{"run": ["second table"]}]}]}])";
    State faulty{true, 0x01, 0x00};
    Plan led = signal(rules, {{"P", true}, {"Q", false}}, faulty);
    EXPECT_THAT(texts(led),
                ElementsAre("led /xyz/openbmc_project/led/groups/fan_fault 1",
                            "run second table"));
    EXPECT_EQ(led.after, faulty);
}

TEST(Engine, MalformedEntryOnTheReadPathSkipsTheWholeSignalOnlyThere)
{
    // Each follows a well-formed entry that would assert a fan fault: none
    // of the signal's actions may run and no mask may change.
    const std::string good =
        R"([{"P": [{"value": 1, "actions": [{"FanFail": ["assert", 0]}]}, )";
    for (
        const char* bad : {
            R"({"value": "1", "actions": []})",
            R"({"value": 1})",
            R"({"value": 1, "actions": 5})",
            R"({"value": 1, "actions": [{"led": ["/p"]}]})",
            R"({"value": 1, "actions": [{"ThermalHot": ["assert", 1], "run": ["x"]}]})",
            R"({"value": 1, "actions": [{"condition": ["hoststate"]}]})",
            R"({"value": 1, "actions": [{"run": [1]}]})",
        })
    {
        Plan p = signal(good + bad + "]}]", {{"P", true}});
        ASSERT_TRUE(p.error) << bad;
        EXPECT_THAT(p.effects, IsEmpty()) << bad;
        EXPECT_EQ(p.after, State{}) << bad;
        EXPECT_EQ(nlohmann::json::parse(p.error->entry),
                  nlohmann::json::parse(bad));
    }
    EXPECT_TRUE(signal(R"([{"P": []}, 5])", {{"Q", true}}).error);

    // Malformed parts off the read path are not read.
    Plan p = signal(R"([{"P": [
        {"value": 0, "actions": 5},
        {"value": 1, "actions": [{"condition": ["hoststate", 1], "run": ["a"]},
                                 {"led": ["/p"]}]},
        {"value": 1, "actions": [{"run": ["b"]}]}]}])",
                    {{"P", true}});
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
