// The object path ('o'): a string underneath, with a type of its own so
// that its D-Bus signature follows from the type.
#pragma once

#include <string>
#include <utility>

namespace sdbusplus
{
namespace message
{
namespace details
{

struct string_path_wrapper
{
    std::string str;

    string_path_wrapper() = default;
    string_path_wrapper(const string_path_wrapper&) = default;
    string_path_wrapper& operator=(const string_path_wrapper&) = default;
    string_path_wrapper(string_path_wrapper&&) = default;
    string_path_wrapper& operator=(string_path_wrapper&&) = default;
    ~string_path_wrapper() = default;

    string_path_wrapper(const std::string& value) : str(value)
    {
    }
    string_path_wrapper(std::string&& value) : str(std::move(value))
    {
    }

    operator const std::string&() const noexcept
    {
        return str;
    }

    bool operator==(const string_path_wrapper& r) const noexcept
    {
        return str == r.str;
    }
    bool operator<(const string_path_wrapper& r) const noexcept
    {
        return str < r.str;
    }
};

} // namespace details

using object_path = details::string_path_wrapper;

} // namespace message
} // namespace sdbusplus
