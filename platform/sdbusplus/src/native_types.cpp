#include <sdbusplus/message/native_types.hpp>

#include <stdexcept>

namespace sdbusplus::message::details
{
namespace
{

// D-Bus object paths allow only [A-Za-z0-9_] in a segment; the locale must
// not widen that.
constexpr bool isAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9');
}

constexpr char hexDigit(unsigned v)
{
    return static_cast<char>(v < 10 ? '0' + v : 'a' + (v - 10));
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
    {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f')
    {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F')
    {
        return c - 'A' + 10;
    }
    return -1;
}

void appendEscaped(std::string& out, char c)
{
    auto byte = static_cast<unsigned char>(c);
    out += '_';
    out += hexDigit(byte >> 4);
    out += hexDigit(byte & 0xf);
}

} // namespace

std::string string_path_wrapper::filename() const
{
    auto slash = str.rfind('/');
    if (slash == std::string::npos)
    {
        return "";
    }
    std::string_view last(str);
    last.remove_prefix(slash + 1);
    if (last.empty() || last.front() != '_')
    {
        return std::string(last);
    }

    std::string decoded;
    decoded.reserve(last.size());
    for (std::size_t i = 0; i < last.size(); ++i)
    {
        if (last[i] != '_')
        {
            decoded += last[i];
            continue;
        }
        if (i + 2 >= last.size())
        {
            return "";
        }
        int hi = hexValue(last[i + 1]);
        int lo = hexValue(last[i + 2]);
        if (hi < 0 || lo < 0)
        {
            return "";
        }
        decoded += static_cast<char>((hi << 4) | lo);
        i += 2;
    }
    return decoded;
}

string_path_wrapper string_path_wrapper::parent_path() const
{
    auto slash = str.rfind('/');
    if (slash == std::string::npos || slash == 0)
    {
        return string_path_wrapper(std::string("/"));
    }
    return string_path_wrapper(str.substr(0, slash));
}

string_path_wrapper
string_path_wrapper::operator/(std::string_view segment) const
{
    string_path_wrapper out(*this);
    out /= segment;
    return out;
}

string_path_wrapper& string_path_wrapper::operator/=(std::string_view segment)
{
    if (segment.empty())
    {
        throw std::invalid_argument("Cannot append an empty path segment");
    }

    bool plain = isAlnum(segment.front());
    for (std::size_t i = 1; plain && i < segment.size(); ++i)
    {
        plain = isAlnum(segment[i]) || segment[i] == '_';
    }

    if (str.empty() || str.back() != '/')
    {
        str += '/';
    }
    if (plain)
    {
        str += segment;
        return *this;
    }

    appendEscaped(str, segment.front());
    for (std::size_t i = 1; i < segment.size(); ++i)
    {
        if (isAlnum(segment[i]))
        {
            str += segment[i];
        }
        else
        {
            appendEscaped(str, segment[i]);
        }
    }
    return *this;
}

} // namespace sdbusplus::message::details
