// What the core tests share: the Recorder behind every fake, fakes of the
// shared seams, and the case-table runner.
#pragma once

#include "answer.hpp"
#include "seams.hpp"

#include <algorithm>
#include <cerrno>
#include <concepts>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace kestrel::test
{

using Strings = std::vector<std::string>;
using Answers = std::map<std::string, std::string>;

/** What a fake throws where the board's seam lets a D-Bus failure escape. */
struct BusFailure : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

inline const auto ok = [](Bytes data = {}) { return success(std::move(data)); };
inline const auto cc = [](uint8_t code) { return failure(code); };

template <class T>
std::vector<T> cat(std::vector<T> a, const std::vector<T>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline std::string hex(std::span<const uint8_t> bytes)
{
    std::string out;
    for (uint8_t byte : bytes)
    {
        out += "0123456789abcdef"[byte >> 4];
        out += "0123456789abcdef"[byte & 0xF];
    }
    return out;
}

/** The calls a fake was asked, each "name arg..." (numbers in decimal), and
 *  what it answers: for a call, `answers` at its text, else at its name,
 *  else nothing (0, false, "", std::nullopt, success); "throw" throws
 *  BusFailure, and an Answer is its completion code. */
struct Recorder
{
    Strings calls;
    Answers answers;

    template <class R, class... Args>
    R record(const std::string& name, const Args&... args)
    {
        calls.push_back(name);
        ((calls.back() += " " + text(args)), ...);
        auto found = answers.find(calls.back());
        found = found != answers.end() ? found : answers.find(name);
        return found == answers.end() ? R() : parse<R>(found->second);
    }

    static std::string text(const std::string& value)
    {
        return value;
    }
    static std::string text(std::integral auto value)
    {
        return std::to_string(value);
    }

    template <class R>
    static R parse(const std::string& answer)
    {
        if (answer == "throw")
        {
            throw BusFailure("bus failure");
        }
        if constexpr (std::is_same_v<R, std::string>)
        {
            return answer;
        }
        else if constexpr (requires { typename R::value_type; })
        {
            return parse<typename R::value_type>(answer); // an optional
        }
        else if constexpr (std::is_same_v<R, Answer>)
        {
            return failure(std::stoi(answer, nullptr, 0));
        }
        else if constexpr (!std::is_void_v<R>)
        {
            return static_cast<R>(std::stol(answer, nullptr, 0));
        }
    }
};

/** Overrides `Ret name params`, logging `name` and the values after it. */
#define FAKE(Ret, name, params, ...)                                           \
    Ret name params override                                                   \
    {                                                                          \
        return record<Ret>(#name __VA_OPT__(, ) __VA_ARGS__);                  \
    }

struct FakeUnits : Units, Recorder
{
    FAKE(void, startStop, (const std::string& u, const std::string& m), m, u);
    FAKE(std::string, activeState, (const std::string& unit), unit);
};

struct FakeLedGroups : LedGroups, Recorder
{
    FAKE(void, setAsserted, (const std::string& group, bool on), on, group);
    FAKE(bool, asserted, (const std::string& group), group);
};

/** An erased EEPROM; access at `failAt` fails (a read scribbling on the
 *  buffer); writes are logged as "offset:bytes" in hex. */
struct FakeEeprom : Eeprom
{
    Bytes image = Bytes(16 * 1024, 0xFF);
    std::optional<uint32_t> failAt;
    Strings calls;

    int read(uint8_t* buffer, uint32_t offset, uint32_t length) override
    {
        bool failed = failAt == offset;
        std::fill_n(buffer, length, 0xAA);
        std::copy_n(image.begin() + offset, failed ? 0 : length, buffer);
        return failed ? -EIO : 0;
    }
    int write(const uint8_t* data, uint32_t offset, uint32_t length) override
    {
        if (failAt == offset)
        {
            return -EIO;
        }
        std::copy_n(data, length, image.begin() + offset);
        calls.push_back(hex(Bytes{uint8_t(offset >> 8), uint8_t(offset)}) +
                        ":" + hex({data, length}));
        return 0;
    }
    void put(uint32_t offset, const Bytes& bytes)
    {
        std::ranges::copy(bytes, image.begin() + offset);
    }
};

/** A row: the request, the answer, and what the fakes recorded, in order. */
struct Case
{
    const char* name;
    Bytes request;
    Answer expected;
    Strings calls = {};
};

/** Runs every row on a fresh copy of `fake`; rows named "get..." ask `get`. */
template <class Fake, class Core, class Get>
void check(std::span<const Case> cases, Core core, const Fake& fake, Get get)
{
    for (const Case& c : cases)
    {
        Fake f = fake;
        bool toGet = std::string_view(c.name).starts_with("get");
        EXPECT_EQ(toGet ? get(c.request, f) : core(c.request, f), c.expected)
            << c.name;
        EXPECT_EQ(f.calls, c.calls) << c.name;
    }
}

template <class Fake, class Core>
void check(std::span<const Case> cases, Core core, const Fake& fake = {})
{
    check(cases, core, fake, core);
}

} // namespace kestrel::test
