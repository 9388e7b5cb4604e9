#include "config.hpp"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <nlohmann/json.hpp>
#include <sdbusplus/bus/match.hpp>
#include <stdexcept>

namespace property_mon
{
namespace
{

using nlohmann::json;

/** Where the problems met while reading go, or null when only loading:
 *  the daemon loads, the configuration checker also collects. */
using Problems = std::vector<Problem>;

void note(Problems* out, const std::string& at, std::string message)
{
    if (out != nullptr)
    {
        out->push_back(Problem{at, std::move(message)});
    }
}

std::string typeName(const json& j)
{
    return j.type_name();
}

/** The JSON pointer of member `name` (or element `index`) of the value at
 *  `at`, itself a pointer: "~" and "/" in member names are escaped as
 *  "~0" and "~1".  Built by appending, not by parsing `at` again, which
 *  made loading a large configuration slow. */
std::string child(const std::string& at, const std::string& name)
{
    std::string out = at;
    out.reserve(at.size() + name.size() + 1);
    out += '/';
    for (char c : name)
    {
        if (c == '~')
        {
            out += "~0";
        }
        else if (c == '/')
        {
            out += "~1";
        }
        else
        {
            out += c;
        }
    }
    return out;
}

std::string child(const std::string& at, std::size_t index)
{
    return at + '/' + std::to_string(index);
}

/** One value a walk visits and its place in the document. */
struct Item
{
    std::string at;
    const json* value;
};

/** The values a range-for over `j` visits, as the JSON library walks it:
 *  an array's elements, an object's member values in member-name order,
 *  nothing for null, and a scalar itself. */
std::vector<Item> walk(const json& j, const std::string& at)
{
    std::vector<Item> out;
    if (j.is_null())
    {
        return out;
    }
    if (!j.is_array() && !j.is_object())
    {
        out.push_back(Item{at, &j});
        return out;
    }
    out.reserve(j.size());
    std::size_t i = 0;
    for (const auto& [name, v] : j.items())
    {
        out.push_back(
            Item{j.is_array() ? child(at, i++) : child(at, name), &v});
    }
    return out;
}

// The reads below are the library's own, which throw its exceptions; each
// notes first what it failed to read, and where.

/** Element `i` of an array. */
const json& element(const json& array, std::size_t i, const std::string& at,
                    Problems* out)
{
    try
    {
        return array.at(i);
    }
    catch (const json::exception&)
    {
        note(out, at,
             array.is_array()
                 ? "needs " + std::to_string(i + 1) + " elements, has " +
                       std::to_string(array.size())
                 : "must be an array, not " + typeName(array));
        throw;
    }
}

/** A required member of an object. */
const json& member(const json& object, const std::string& name,
                   const std::string& at, Problems* out)
{
    try
    {
        return object.at(name);
    }
    catch (const json::exception&)
    {
        note(out, at,
             object.is_object() ? "\"" + name + "\" is missing"
                                : "must be an object, not " + typeName(object));
        throw;
    }
}

/** A member with a default, which must be a string when T is one. */
template <class T>
T optionalMember(const json& object, const char* name, const T& fallback,
                 const std::string& at, Problems* out)
{
    try
    {
        return object.value(name, fallback);
    }
    catch (const json::exception&)
    {
        if (!object.is_object())
        {
            note(out, at, "must be an object, not " + typeName(object));
        }
        else
        {
            note(out, child(at, name),
                 "must be a string, not " + typeName(object.at(name)));
        }
        throw;
    }
}

/** A member that may hold any value, or null when it is absent: the
 *  member itself, not a copy (value() would copy every monitor the file
 *  holds).  A container that is not an object throws as value() does. */
const json& optionalValue(const json& object, const char* name,
                          const std::string& at, Problems* out)
{
    static const json absent;
    if (!object.is_object())
    {
        optionalMember(object, name, absent, at, out);
    }
    auto it = object.find(name);
    return it == object.end() ? absent : *it;
}

std::string readString(const json& j, const std::string& at, Problems* out)
{
    try
    {
        return j.get<std::string>();
    }
    catch (const json::exception&)
    {
        note(out, at, "must be a string, not " + typeName(j));
        throw;
    }
}

/** A number read as a signed 32-bit integer: booleans as 0/1, fractions cut
 *  toward zero; anything else throws the library's type error.  Floating
 *  values beyond the range saturate instead of overflowing. */
int32_t readNumber(const json& j, const std::string& at, Problems* out)
{
    if (j.is_number_float())
    {
        double d = std::trunc(j.get<double>());
        constexpr auto lo = std::numeric_limits<int32_t>::min();
        constexpr auto hi = std::numeric_limits<int32_t>::max();
        if (d <= lo)
        {
            return lo;
        }
        if (d >= hi)
        {
            return hi;
        }
        return static_cast<int32_t>(d);
    }
    try
    {
        return j.get<int32_t>();
    }
    catch (const json::exception&)
    {
        note(out, at, "must be a number, not " + typeName(j));
        throw;
    }
}

/** Element `i` of the array at `at`, read as a string or a number. */
std::string stringAt(const json& array, std::size_t i, const std::string& at,
                     Problems* out)
{
    return readString(element(array, i, at, out), child(at, i), out);
}

int32_t numberAt(const json& array, std::size_t i, const std::string& at,
                 Problems* out)
{
    return readNumber(element(array, i, at, out), child(at, i), out);
}

FaultKind faultKind(const std::string& member)
{
    if (member == "FanFail")
    {
        return FaultKind::fanFail;
    }
    if (member == "ThermalHot")
    {
        return FaultKind::thermalHot;
    }
    if (member == "MemMultiBitError")
    {
        return FaultKind::memMultiBitError;
    }
    return FaultKind::other;
}

/** Every member of a fault object as [operation, bit number]. */
FaultPass faultPass(const json& object, const std::string& at, Problems* out)
{
    FaultPass pass;
    for (const auto& [name, value] : object.items())
    {
        std::string here = child(at, name);
        // "run" holds one element, so it never reads as a pair: say that
        // rather than what the pair lacks.
        Problems* sub = name == "run" ? nullptr : out;
        try
        {
            FaultUpdate u;
            u.kind = faultKind(name);
            u.assert = stringAt(value, 0, here, sub) == "assert";
            int32_t bitNumber = numberAt(value, 1, here, sub);
            if (bitNumber >= 0 && bitNumber <= 7)
            {
                u.bit = static_cast<uint8_t>(1U << bitNumber);
            }
            else if (u.kind != FaultKind::other)
            {
                note(out, child(here, 1),
                     "bit number " + std::to_string(bitNumber) +
                         " is outside 0 to 7: the update changes no mask");
            }
            pass.updates.push_back(u);
        }
        catch (const json::exception&)
        {
            if (name == "run")
            {
                note(out, here, "\"run\" cannot stand beside a fault member");
            }
            throw;
        }
    }
    return pass;
}

/** The steps of an action object.  Loading stops at the first member that
 *  cannot be read; checking reads on, then throws the first failure. */
std::vector<Step> steps(const json& object, const std::string& at,
                        Problems* out)
{
    std::vector<Step> steps;
    std::exception_ptr first;
    for (const auto& [name, value] : object.items())
    {
        std::string here = child(at, name);
        try
        {
            if (name == "led")
            {
                steps.emplace_back(
                    LedWrite{stringAt(value, 0, here, out),
                             numberAt(value, 1, here, out) != 0});
            }
            else if (faultKind(name) != FaultKind::other)
            {
                steps.emplace_back(faultPass(object, at, out));
            }
            else if (name == "run")
            {
                steps.emplace_back(RunCommand{stringAt(value, 0, here, out)});
            }
            else if (name != "condition")
            {
                note(out, here, "unknown action member \"" + name + "\"");
            }
        }
        catch (const json::exception&)
        {
            if (out == nullptr)
            {
                throw;
            }
            if (!first)
            {
                first = std::current_exception();
            }
        }
    }
    if (first)
    {
        std::rethrow_exception(first);
    }
    return steps;
}

/** `gated`: the object belongs to a condition entry, where "condition" is
 *  read; in a host-state entry it is not. */
ActionObject actionObject(const json& object, const json& entryJson,
                          const std::string& at, bool gated, Problems* out)
{
    ActionObject a;
    if (!object.is_object())
    {
        note(out, at, "must be an object, not " + typeName(object));
        ShapeError e{"action object must be an object, not " +
                         std::string(object.type_name()),
                     entryJson.dump()};
        a.gateError = e;
        a.stepsError = std::move(e);
        return a;
    }
    if (auto c = object.find("condition"); c != object.end())
    {
        std::string here = child(at, "condition");
        if (!gated)
        {
            note(out, here, "has no effect in a host-state entry");
        }
        Problems* gateOut = gated ? out : nullptr;
        try
        {
            a.gate = Gate{stringAt(*c, 0, here, gateOut),
                          numberAt(*c, 1, here, gateOut)};
        }
        catch (const json::exception& e)
        {
            a.gateError = ShapeError{e.what(), entryJson.dump()};
        }
    }
    try
    {
        a.steps = steps(object, at, out);
    }
    catch (const json::exception& e)
    {
        a.steps.clear();
        a.stepsError = ShapeError{e.what(), entryJson.dump()};
    }
    return a;
}

Entry entry(const json& j, const std::string& at, bool gated, Problems* out)
{
    // The entry's text goes with an error only, so it is written out only
    // for one: most entries have none.
    Entry e;
    try
    {
        std::string here = child(at, "value");
        e.value = readNumber(member(j, "value", at, out), here, out);
        if (e.value != 0 && e.value != 1)
        {
            note(out, here,
                 std::to_string(e.value) + " never matches: only 0 and 1 do");
        }
    }
    catch (const json::exception& x)
    {
        e.valueError = ShapeError{x.what(), j.dump()};
    }
    try
    {
        for (const Item& a :
             walk(member(j, "actions", at, out), child(at, "actions")))
        {
            e.actions.push_back(actionObject(*a.value, j, a.at, gated, out));
        }
    }
    catch (const json::exception& x)
    {
        e.actions.clear();
        e.actionsError = ShapeError{x.what(), j.dump()};
    }
    return e;
}

std::vector<Entry> entries(const json& list, const std::string& at, bool gated,
                           Problems* out)
{
    std::vector<Entry> all;
    for (const Item& e : walk(list, at))
    {
        all.push_back(entry(*e.value, e.at, gated, out));
    }
    return all;
}

std::vector<PropertyRule> rules(const json& properties, const std::string& at,
                                Problems* out)
{
    std::vector<PropertyRule> all;
    for (const Item& table : walk(properties, at))
    {
        if (!table.value->is_object())
        {
            note(out, table.at,
                 "must be an object, not " + typeName(*table.value));
            PropertyRule bad;
            bad.tableError =
                ShapeError{"property table must be an object, not " +
                               std::string(table.value->type_name()),
                           table.value->dump()};
            all.push_back(std::move(bad));
            continue;
        }
        for (const auto& [name, conditions] : table.value->items())
        {
            all.push_back(PropertyRule{
                std::nullopt, name,
                entries(conditions, child(table.at, name), true, out)});
        }
    }
    return all;
}

/** A watch whose rule could never match, or that the bus would refuse, is
 *  a mistake in the file: refuse it before any watch is registered. */
void checkWatch(const Watch& w, std::size_t monitor, std::size_t iface,
                const std::string& monitorAt, const std::string& ifaceAt,
                Problems* out)
{
    std::string where = "monitor " + std::to_string(monitor);
    auto refuse = [&](const std::string& at, const std::string& what) {
        note(out, at, what);
        throw std::invalid_argument(where + ": " + what);
    };
    if (w.path.empty())
    {
        refuse(monitorAt, "\"path\" is missing or empty");
    }
    if (!sd_bus_object_path_is_valid(w.path.c_str()))
    {
        refuse(monitorAt, "\"" + w.path + "\" is not a D-Bus object path");
    }
    where += ", interface " + std::to_string(iface);
    if (w.interface.empty())
    {
        refuse(ifaceAt, "\"name\" is missing or empty");
    }
    if (!sd_bus_interface_name_is_valid(w.interface.c_str()))
    {
        refuse(ifaceAt,
               "\"" + w.interface + "\" is not a D-Bus interface name");
    }
}

/** Runs `read`; when checking, a failure (already noted) ends only that
 *  part of the document and the reading goes on. */
template <class F>
void part(Problems* out, F read)
{
    if (out == nullptr)
    {
        read();
        return;
    }
    try
    {
        read();
    }
    catch (const std::exception&)
    {
    }
}

Config load(const json& doc, Problems* out)
{
    Config config;
    // value() throws the library's type error for a container that is not
    // an object and for a member of the wrong type.
    config.hostState = entries(optionalValue(doc, "hoststate", "", out),
                               "/hoststate", false, out);
    const json& monitors = optionalValue(doc, "monitors", "", out);
    std::size_t m = 0;
    for (const Item& monitor : walk(monitors, "/monitors"))
    {
        part(out, [&] {
            auto path = optionalMember(*monitor.value, "path", std::string(),
                                       monitor.at, out);
            const json& interfaces =
                optionalValue(*monitor.value, "interfaces", monitor.at, out);
            std::size_t i = 0;
            for (const Item& iface :
                 walk(interfaces, child(monitor.at, "interfaces")))
            {
                part(out, [&] {
                    Watch w;
                    w.path = path;
                    w.interface = optionalMember(*iface.value, "name",
                                                 std::string(), iface.at, out);
                    w.rules = rules(optionalValue(*iface.value, "properties",
                                                  iface.at, out),
                                    child(iface.at, "properties"), out);
                    checkWatch(w, m, i, monitor.at, iface.at, out);
                    config.watches.push_back(std::move(w));
                });
                ++i;
            }
        });
        ++m;
    }
    return config;
}

} // namespace

Config loadConfig(std::istream& in)
{
    return load(json::parse(in), nullptr);
}

std::vector<Problem> checkConfig(std::istream& in)
{
    Problems all;
    try
    {
        load(json::parse(in), &all);
    }
    catch (const std::exception& e)
    {
        // A parse error, or a top level that is not an object (noted).
        if (all.empty())
        {
            all.push_back(Problem{"", e.what()});
        }
    }
    // A fault pass reads the whole object once per fault member, so the
    // same problem may be met more than once.
    Problems unique;
    for (Problem& p : all)
    {
        if (std::find(unique.begin(), unique.end(), p) == unique.end())
        {
            unique.push_back(std::move(p));
        }
    }
    return unique;
}

std::string watchRule(const std::string& path, const std::string& interface)
{
    return sdbusplus::bus::match::rules::propertiesChanged(path, interface);
}

std::vector<std::string> watchRules(const Config& config)
{
    std::vector<std::string> out;
    out.reserve(config.watches.size() + 1);
    out.push_back(watchRule(hostStatePath, hostStateInterface));
    for (const Watch& w : config.watches)
    {
        out.push_back(watchRule(w.path, w.interface));
    }
    return out;
}

} // namespace property_mon
