#include "config.hpp"

#include <systemd/sd-bus.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <sdbusplus/bus/match.hpp>
#include <stdexcept>

namespace property_mon
{
namespace
{

using nlohmann::json;

/** The values a range-for over `j` visits, as the JSON library walks it:
 *  an array's elements, an object's member values in member-name order,
 *  nothing for null, and a scalar itself. */
std::vector<const json*> walk(const json& j)
{
    std::vector<const json*> out;
    if (j.is_null())
    {
        return out;
    }
    if (!j.is_array() && !j.is_object())
    {
        out.push_back(&j);
        return out;
    }
    out.reserve(j.size());
    for (const auto& v : j)
    {
        out.push_back(&v);
    }
    return out;
}

/** A number read as a signed 32-bit integer: booleans as 0/1, fractions cut
 *  toward zero; anything else throws the library's type error.  Floating
 *  values beyond the range saturate instead of overflowing. */
int32_t readNumber(const json& j)
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
    return j.get<int32_t>();
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
FaultPass faultPass(const json& object)
{
    FaultPass pass;
    for (const auto& [name, value] : object.items())
    {
        FaultUpdate u;
        u.kind = faultKind(name);
        u.assert = value.at(0).get<std::string>() == "assert";
        int32_t bitNumber = readNumber(value.at(1));
        if (bitNumber >= 0 && bitNumber <= 7)
        {
            u.bit = static_cast<uint8_t>(1U << bitNumber);
        }
        pass.updates.push_back(u);
    }
    return pass;
}

std::vector<Step> steps(const json& object)
{
    std::vector<Step> out;
    for (const auto& [name, value] : object.items())
    {
        if (name == "led")
        {
            out.emplace_back(LedWrite{value.at(0).get<std::string>(),
                                      readNumber(value.at(1)) != 0});
        }
        else if (faultKind(name) != FaultKind::other)
        {
            out.emplace_back(faultPass(object));
        }
        else if (name == "run")
        {
            out.emplace_back(RunCommand{value.at(0).get<std::string>()});
        }
    }
    return out;
}

ActionObject actionObject(const json& object, const std::string& entryText)
{
    ActionObject a;
    if (!object.is_object())
    {
        ShapeError e{"action object must be an object, not " +
                         std::string(object.type_name()),
                     entryText};
        a.gateError = e;
        a.stepsError = std::move(e);
        return a;
    }
    if (auto c = object.find("condition"); c != object.end())
    {
        try
        {
            a.gate = Gate{c->at(0).get<std::string>(), readNumber(c->at(1))};
        }
        catch (const json::exception& e)
        {
            a.gateError = ShapeError{e.what(), entryText};
        }
    }
    try
    {
        a.steps = steps(object);
    }
    catch (const json::exception& e)
    {
        a.steps.clear();
        a.stepsError = ShapeError{e.what(), entryText};
    }
    return a;
}

Entry entry(const json& j)
{
    Entry out;
    std::string text = j.dump();
    try
    {
        out.value = readNumber(j.at("value"));
    }
    catch (const json::exception& e)
    {
        out.valueError = ShapeError{e.what(), text};
    }
    try
    {
        for (const json* a : walk(j.at("actions")))
        {
            out.actions.push_back(actionObject(*a, text));
        }
    }
    catch (const json::exception& e)
    {
        out.actions.clear();
        out.actionsError = ShapeError{e.what(), text};
    }
    return out;
}

std::vector<Entry> entries(const json& list)
{
    std::vector<Entry> out;
    for (const json* e : walk(list))
    {
        out.push_back(entry(*e));
    }
    return out;
}

std::vector<PropertyRule> rules(const json& properties)
{
    std::vector<PropertyRule> out;
    for (const json* table : walk(properties))
    {
        if (!table->is_object())
        {
            PropertyRule bad;
            bad.tableError =
                ShapeError{"property table must be an object, not " +
                               std::string(table->type_name()),
                           table->dump()};
            out.push_back(std::move(bad));
            continue;
        }
        for (const auto& [name, conditions] : table->items())
        {
            out.push_back(
                PropertyRule{std::nullopt, name, entries(conditions)});
        }
    }
    return out;
}

/** A watch whose rule could never match, or that the bus would refuse, is
 *  a mistake in the file: refuse it before any watch is registered. */
void checkWatch(const Watch& w, std::size_t monitor, std::size_t iface)
{
    std::string where = "monitor " + std::to_string(monitor);
    if (w.path.empty())
    {
        throw std::invalid_argument(where + ": \"path\" is missing or empty");
    }
    if (!sd_bus_object_path_is_valid(w.path.c_str()))
    {
        throw std::invalid_argument(where + ": \"" + w.path +
                                    "\" is not a D-Bus object path");
    }
    where += ", interface " + std::to_string(iface);
    if (w.interface.empty())
    {
        throw std::invalid_argument(where + ": \"name\" is missing or empty");
    }
    if (!sd_bus_interface_name_is_valid(w.interface.c_str()))
    {
        throw std::invalid_argument(where + ": \"" + w.interface +
                                    "\" is not a D-Bus interface name");
    }
}

} // namespace

Config loadConfig(std::istream& in)
{
    json doc = json::parse(in);
    Config config;
    // value() throws the library's type error for a container that is not
    // an object and for a member of the wrong type.
    // (value() returns a copy: each is kept in a local while it is walked.)
    config.hostState = entries(doc.value("hoststate", json()));
    json monitors = doc.value("monitors", json());
    std::size_t m = 0;
    for (const json* monitor : walk(monitors))
    {
        auto path = monitor->value("path", std::string());
        json interfaces = monitor->value("interfaces", json());
        std::size_t i = 0;
        for (const json* iface : walk(interfaces))
        {
            Watch w;
            w.path = path;
            w.interface = iface->value("name", std::string());
            w.rules = rules(iface->value("properties", json()));
            checkWatch(w, m, i++);
            config.watches.push_back(std::move(w));
        }
        ++m;
    }
    return config;
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
