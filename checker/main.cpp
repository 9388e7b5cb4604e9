// kestrel-config-check: reads a watchkeeper or boardpilot configuration with
// the daemon's own loader and prints every problem the daemon would meet
// with it, one line each: "JSON-POINTER: message" ("/" for the document as
// a whole).  Exit status 0 when there is none, 1 when there is, 2 for a
// wrong invocation or a file that cannot be opened.
#include "chassis_record.hpp"
#include "config.hpp"
#include "platform.hpp"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace
{

using nlohmann::json;
using Problems = std::vector<property_mon::Problem>;

constexpr const char* usage =
    "usage: kestrel-config-check watchkeeper|boardpilot FILE\n";

std::string typeName(const json& j)
{
    return j.type_name();
}

/** boardpilot's reads (platform.hpp) applied to every entry, where the
 *  program reads "run" only for the entry of its board and stops at the
 *  first type error. */
Problems checkPlatforms(std::istream& in)
{
    Problems out;
    json doc;
    try
    {
        doc = json::parse(in);
    }
    catch (const json::parse_error& e)
    {
        return {{"", e.what()}};
    }
    if (!doc.is_object())
    {
        // platformEntries would throw.
        return {{"", "must be an object, not " + typeName(doc)}};
    }
    json platforms = boardpilot::platformEntries(doc);
    if (platforms.is_null())
    {
        return out;
    }
    std::size_t i = 0;
    for (const auto& item : platforms.items())
    {
        const json& entry = item.value();
        json::json_pointer pointer("/platforms");
        if (platforms.is_array())
        {
            pointer /= i++;
        }
        else if (platforms.is_object())
        {
            pointer /= item.key();
        }
        std::string at = pointer.to_string();
        if (!entry.is_object())
        {
            out.push_back({at, "must be an object, not " + typeName(entry)});
            continue;
        }
        try
        {
            auto id = boardpilot::entryChassisId(entry);
            if (id.empty())
            {
                out.push_back({at, "\"chassisid\" is missing or empty: the "
                                   "entry applies to no board"});
            }
            else if (id.size() > kestrel::chassis::maxIdLength)
            {
                out.push_back(
                    {at + "/chassisid",
                     "longer than " +
                         std::to_string(kestrel::chassis::maxIdLength) +
                         " characters: no chassis ID matches it"});
            }
        }
        catch (const json::exception&)
        {
            out.push_back(
                {at + "/chassisid",
                 "must be a string, not " + typeName(entry.at("chassisid"))});
        }
        try
        {
            if (boardpilot::entryCommand(entry).empty())
            {
                out.push_back({at, "\"run\" is missing or empty"});
            }
        }
        catch (const json::exception&)
        {
            out.push_back({at + "/run", "must be a string, not " +
                                            typeName(entry.at("run"))});
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        std::cerr << usage;
        return 2;
    }
    std::string daemon = argv[1];
    if (daemon != "watchkeeper" && daemon != "boardpilot")
    {
        std::cerr << usage;
        return 2;
    }
    std::ifstream in(argv[2]);
    if (!in)
    {
        std::cerr << "kestrel-config-check: cannot open " << argv[2] << "\n";
        return 2;
    }
    Problems problems = daemon == "watchkeeper" ? property_mon::checkConfig(in)
                                                : checkPlatforms(in);
    for (const auto& p : problems)
    {
        std::cout << (p.path.empty() ? "/" : p.path) << ": " << p.message
                  << "\n";
    }
    return problems.empty() ? EXIT_SUCCESS : EXIT_FAILURE;
}
