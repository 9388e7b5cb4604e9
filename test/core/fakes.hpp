// Fakes of the shared core seams: they record what a core asked for and
// answer from state a test sets up.
#pragma once

#include "answer.hpp"
#include "seams.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel::test
{

/** The exception a fake throws where the board's seam would let a D-Bus
 *  failure escape. */
struct BusFailure : std::runtime_error
{
    BusFailure() : std::runtime_error("bus failure")
    {
    }
};

struct FakeUnits : Units
{
    std::map<std::string, std::string> states;
    /** "Member unitPath" for every start/stop request, in order. */
    std::vector<std::string> calls;
    bool fail = false;

    void startStop(const std::string& unitPath,
                   const std::string& member) override
    {
        if (fail)
        {
            throw BusFailure();
        }
        calls.push_back(member + " " + unitPath);
    }
    std::string activeState(const std::string& unitPath) override
    {
        if (fail)
        {
            throw BusFailure();
        }
        return states[unitPath];
    }
};

struct FakeLedGroups : LedGroups
{
    std::map<std::string, bool> groups;
    /** Every write, in order. */
    std::vector<std::pair<std::string, bool>> writes;
    bool fail = false;

    void setAsserted(const std::string& groupPath, bool asserted) override
    {
        if (fail)
        {
            throw BusFailure();
        }
        writes.emplace_back(groupPath, asserted);
        groups[groupPath] = asserted;
    }
    bool asserted(const std::string& groupPath) override
    {
        if (fail)
        {
            throw BusFailure();
        }
        return groups[groupPath];
    }
};

/** A 16 KiB EEPROM image, erased (0xFF); reads or writes at one offset can
 *  be made to fail with -EIO. */
struct FakeEeprom : Eeprom
{
    static constexpr std::size_t size = 16 * 1024;
    std::vector<uint8_t> image = std::vector<uint8_t>(size, 0xFF);
    std::optional<uint32_t> failReadAt;
    std::optional<uint32_t> failWriteAt;
    /** Offsets of the writes that took place, in order. */
    std::vector<uint32_t> writes;

    int read(uint8_t* buffer, uint32_t offset, uint32_t length) override
    {
        if (failReadAt == offset || offset + length > size)
        {
            return -EIO;
        }
        std::memcpy(buffer, image.data() + offset, length);
        return 0;
    }
    int write(const uint8_t* data, uint32_t offset, uint32_t length) override
    {
        if (failWriteAt == offset || offset + length > size)
        {
            return -EIO;
        }
        std::memcpy(image.data() + offset, data, length);
        writes.push_back(offset);
        return 0;
    }
    Bytes at(uint32_t offset, std::size_t length) const
    {
        return {image.begin() + offset, image.begin() + offset + length};
    }
    void put(uint32_t offset, const Bytes& bytes)
    {
        std::copy(bytes.begin(), bytes.end(), image.begin() + offset);
    }
};

/** One row of a core's case table. */
struct Case
{
    const char* name;
    Bytes request;
    Answer expected;
};

} // namespace kestrel::test
