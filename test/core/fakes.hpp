// What the core tests share: fakes of the shared seams, which record what a
// core asked for in `calls` and answer from state a test sets up, and the
// case-table runner.
#pragma once

#include "answer.hpp"
#include "seams.hpp"

#include <algorithm>
#include <cerrno>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kestrel::test
{

using Strings = std::vector<std::string>;

/** What a fake throws where the board's seam lets a D-Bus failure escape. */
struct BusFailure : std::runtime_error
{
    BusFailure() : std::runtime_error("bus failure")
    {
    }
};

inline void failIf(bool fail)
{
    if (fail)
    {
        throw BusFailure();
    }
}

template <class T>
std::vector<T> cat(std::vector<T> a, const std::vector<T>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

/** The bytes in lower-case hex, without separators. */
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

struct FakeUnits : Units
{
    std::map<std::string, std::string> states;
    Strings calls; // "Member unitPath"
    bool fail = false;

    void startStop(const std::string& unit, const std::string& member) override
    {
        failIf(fail);
        calls.push_back(member + " " + unit);
    }
    std::string activeState(const std::string& unitPath) override
    {
        failIf(fail);
        return states[unitPath];
    }
};

struct FakeLedGroups : LedGroups
{
    std::map<std::string, bool> groups;
    Strings calls; // "on groupPath", "off groupPath"
    bool fail = false;

    void setAsserted(const std::string& groupPath, bool asserted) override
    {
        failIf(fail);
        calls.push_back((asserted ? "on " : "off ") + groupPath);
    }
    bool asserted(const std::string& groupPath) override
    {
        failIf(fail);
        return groups[groupPath];
    }
};

/** A 16 KiB EEPROM image, erased (0xFF); a read or write at `failAt` fails
 *  with -EIO, and a failed read scribbles on the buffer. */
struct FakeEeprom : Eeprom
{
    Bytes image = Bytes(16 * 1024, 0xFF);
    std::optional<uint32_t> failAt;
    Strings calls; // "offset:bytes written", in hex

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

/** One row of a core's case table: the request, the answer, and what the
 *  fakes recorded, in order. */
struct Case
{
    const char* name;
    Bytes request;
    Answer expected;
    Strings calls = {};
};

/** Runs every row on a fresh copy of `fake`: `core(request, fake)` must give
 *  the row's answer and leave the row's calls in `fake.calls`. */
template <class Fake, class Core>
void check(std::span<const Case> cases, Core core, const Fake& fake = {})
{
    for (const Case& c : cases)
    {
        Fake f = fake;
        EXPECT_EQ(core(c.request, f), c.expected) << c.name;
        EXPECT_EQ(f.calls, c.calls) << c.name;
    }
}

} // namespace kestrel::test
