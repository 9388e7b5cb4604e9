#include "file_store.hpp"
#include "internal.hpp"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keyshelf
{

namespace
{

// `long` is 32 bits on the BMC; values are held to that range everywhere so
// a store behaves the same on a 64-bit build.
using Value = int32_t;

constexpr std::string_view blanks = " \t\r";

std::string_view trim(std::string_view s)
{
    size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos)
    {
        return {};
    }
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

bool isComment(std::string_view t)
{
    return t.starts_with(';') || t.starts_with('#');
}

std::optional<std::string_view> sectionName(std::string_view t)
{
    if (t.size() < 2 || t.front() != '[' || t.back() != ']')
    {
        return std::nullopt;
    }
    return trim(t.substr(1, t.size() - 2));
}

std::optional<Value> parseValue(std::string_view v)
{
    if (v.starts_with('+'))
    {
        v.remove_prefix(1);
    }
    int64_t parsed = 0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), parsed);
    if (v.empty() || ec != std::errc{} || end != v.data() + v.size() ||
        parsed < INT32_MIN || parsed > INT32_MAX)
    {
        return std::nullopt;
    }
    return static_cast<Value>(parsed);
}

// Names that would read back differently, or break the line structure,
// cannot be stored.
bool validSection(std::string_view s)
{
    return !s.empty() && trim(s) == s &&
           s.find_first_of("[]\n") == std::string_view::npos;
}

bool validKey(std::string_view k)
{
    return !k.empty() && trim(k) == k && !k.starts_with('[') && !isComment(k) &&
           k.find_first_of("=\n") == std::string_view::npos;
}

std::vector<std::string> splitLines(const std::vector<uint8_t>& bytes)
{
    std::vector<std::string> lines;
    std::string_view text(reinterpret_cast<const char*>(bytes.data()),
                          bytes.size());
    while (!text.empty())
    {
        size_t nl = text.find('\n');
        lines.emplace_back(text.substr(0, nl));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    }
    return lines;
}

struct Entry
{
    std::optional<size_t> keyLine;     // the line holding the key
    std::optional<size_t> sectionLast; // last entry line of the section
    std::string_view value;
};

// The first `key` under any `[section]` header wins; new keys go into the
// first such section.
Entry find(const std::vector<std::string>& lines, std::string_view section,
           std::string_view key)
{
    Entry entry;
    bool inSection = false;
    bool inFirstSection = false;
    for (size_t i = 0; i < lines.size(); ++i)
    {
        std::string_view t = trim(lines[i]);
        if (t.empty() || isComment(t))
        {
            continue;
        }
        if (auto name = sectionName(t))
        {
            inSection = *name == section;
            inFirstSection = inSection && !entry.sectionLast;
            if (inFirstSection)
            {
                entry.sectionLast = i;
            }
            continue;
        }
        if (inFirstSection)
        {
            entry.sectionLast = i;
        }
        size_t eq = t.find('=');
        if (inSection && !entry.keyLine && eq != std::string_view::npos &&
            trim(t.substr(0, eq)) == key)
        {
            entry.keyLine = i;
            entry.value = trim(t.substr(eq + 1));
        }
    }
    return entry;
}

} // namespace

long getLong(const char* path, const char* section, const char* key,
             long defaultValue)
{
    if (section == nullptr || key == nullptr)
    {
        return defaultValue;
    }
    std::vector<uint8_t> bytes;
    {
        board_io::StoreLock lock;
        board_io::StoreLock::shared(path, lock);
        if (board_io::readFile(path, bytes) < 0)
        {
            return defaultValue;
        }
    }
    std::vector<std::string> lines = splitLines(bytes);
    Entry entry = find(lines, section, key);
    if (!entry.keyLine)
    {
        return defaultValue;
    }
    return parseValue(entry.value).value_or(defaultValue);
}

int setLong(const char* path, const char* section, const char* key, long value)
{
    if (section == nullptr || key == nullptr || !validSection(section) ||
        !validKey(key))
    {
        return -EINVAL;
    }
    if constexpr (sizeof(long) > sizeof(Value))
    {
        if (value < INT32_MIN || value > INT32_MAX)
        {
            return -ERANGE;
        }
    }

    // Another process may be updating a different key: the whole
    // read-modify-write happens under the exclusive lock.
    board_io::StoreLock lock;
    if (int rc = board_io::StoreLock::exclusive(path, lock); rc < 0)
    {
        return rc;
    }
    std::vector<uint8_t> bytes;
    if (int rc = board_io::readFile(path, bytes); rc < 0 && rc != -ENOENT)
    {
        return rc;
    }
    std::vector<std::string> lines = splitLines(bytes);
    Entry entry = find(lines, section, key);
    std::string line = std::string(key) + "=" + std::to_string(value);
    if (entry.keyLine)
    {
        lines[*entry.keyLine] = line;
    }
    else if (entry.sectionLast)
    {
        lines.insert(lines.begin() +
                         static_cast<ptrdiff_t>(*entry.sectionLast) + 1,
                     line);
    }
    else
    {
        if (!lines.empty() && !trim(lines.back()).empty())
        {
            lines.emplace_back();
        }
        lines.push_back("[" + std::string(section) + "]");
        lines.push_back(line);
    }

    std::string text;
    for (const std::string& l : lines)
    {
        text += l;
        text += '\n';
    }
    return board_io::replaceFile(
        path, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

} // namespace keyshelf
