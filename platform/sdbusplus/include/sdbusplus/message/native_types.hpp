// Value types that have their own D-Bus signature although they are strings
// or integers underneath: object paths ('o'), signatures ('g') and file
// descriptors ('h').
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace sdbusplus
{
namespace message
{
namespace details
{

/** A string with a distinct type, so its D-Bus signature follows from the
 *  type.  `Tag` only tells the wrappers apart. */
template <typename Tag>
struct string_wrapper
{
    std::string str;

    string_wrapper() = default;
    string_wrapper(const string_wrapper&) = default;
    string_wrapper& operator=(const string_wrapper&) = default;
    string_wrapper(string_wrapper&&) = default;
    string_wrapper& operator=(string_wrapper&&) = default;
    ~string_wrapper() = default;

    string_wrapper(const std::string& value) : str(value)
    {
    }
    string_wrapper(std::string&& value) : str(std::move(value))
    {
    }

    operator const std::string&() const noexcept
    {
        return str;
    }

    bool operator==(const string_wrapper& r) const noexcept
    {
        return str == r.str;
    }
    bool operator!=(const string_wrapper& r) const noexcept
    {
        return str != r.str;
    }
    bool operator<(const string_wrapper& r) const noexcept
    {
        return str < r.str;
    }
    bool operator==(const std::string& r) const noexcept
    {
        return str == r;
    }
    bool operator!=(const std::string& r) const noexcept
    {
        return str != r;
    }
    bool operator<(const std::string& r) const noexcept
    {
        return str < r;
    }
};

/** An object path.  Besides being a string it knows how to add and take
 *  apart path segments, escaping what D-Bus does not allow in a segment. */
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

    /** `base` followed by each segment, as operator/ adds them. */
    template <typename... Segments>
    string_path_wrapper(std::string base, std::string_view first,
                        Segments&&... rest) :
        str(std::move(base))
    {
        *this /= first;
        ((*this /= std::string_view(rest)), ...);
    }

    operator const std::string&() const noexcept
    {
        return str;
    }

    const std::string& string() const noexcept
    {
        return str;
    }

    /** The last segment, unescaped when it was escaped; "" for a path
     *  without segments or a segment whose escapes are malformed. */
    std::string filename() const;

    /** The path without its last segment; "/" when that leaves nothing. */
    string_path_wrapper parent_path() const;

    /** Appends one segment, adding '/' where needed.  A segment that is not
     *  a plain identifier ([A-Za-z0-9][A-Za-z0-9_]*) is escaped as a whole:
     *  its first byte, and every following byte that is not alphanumeric,
     *  become "_xx" (two lower-case hex digits).  An empty segment throws
     *  std::invalid_argument. */
    string_path_wrapper operator/(std::string_view segment) const;
    string_path_wrapper& operator/=(std::string_view segment);

    bool operator==(const string_path_wrapper& r) const noexcept
    {
        return str == r.str;
    }
    bool operator!=(const string_path_wrapper& r) const noexcept
    {
        return str != r.str;
    }
    bool operator<(const string_path_wrapper& r) const noexcept
    {
        return str < r.str;
    }
    bool operator==(const std::string& r) const noexcept
    {
        return str == r;
    }
    bool operator!=(const std::string& r) const noexcept
    {
        return str != r;
    }
    bool operator<(const std::string& r) const noexcept
    {
        return str < r;
    }
};

struct signature_type
{
};

/** A file descriptor passed over the bus.  It is not owned: whoever sends
 *  or receives it decides when to close it. */
struct unix_fd_type
{
    int fd = -1;

    unix_fd_type() = default;
    unix_fd_type(int f) : fd(f)
    {
    }

    operator int() const noexcept
    {
        return fd;
    }
};

} // namespace details

using object_path = details::string_path_wrapper;
using signature = details::string_wrapper<details::signature_type>;
using unix_fd = details::unix_fd_type;

} // namespace message

using object_path = message::object_path;

} // namespace sdbusplus

namespace std
{

template <typename Tag>
struct hash<sdbusplus::message::details::string_wrapper<Tag>>
{
    size_t
    operator()(const sdbusplus::message::details::string_wrapper<Tag>& v) const
    {
        return hash<string>()(v.str);
    }
};

template <>
struct hash<sdbusplus::message::details::string_path_wrapper>
{
    size_t
    operator()(const sdbusplus::message::details::string_path_wrapper& v) const
    {
        return hash<string>()(v.str);
    }
};

template <>
struct hash<sdbusplus::message::details::unix_fd_type>
{
    size_t operator()(const sdbusplus::message::details::unix_fd_type& v) const
    {
        return hash<int>()(v.fd);
    }
};

} // namespace std
