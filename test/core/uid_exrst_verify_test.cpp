// UID / external-reset verify against fake registers.
#include "fakes.hpp"
#include "uid_exrst_verify.hpp"

#include <cerrno>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using testing::ElementsAre;
using testing::IsEmpty;
using uid_exrst_verify::registerA;
using uid_exrst_verify::registerB;
using uid_exrst_verify::Saved;
using uid_exrst_verify::uidExrstVerify;

/** Registers A and B; one can ignore writes of 0 (an event still pending)
 *  and reads can fail. */
struct FakeRegisters : reg_value::Registers
{
    std::map<uint32_t, uint32_t> words;
    std::optional<uint32_t> stuck;
    bool failRead = false;
    /** "r A", "w B=0", ... in order. */
    std::vector<std::string> log;

    static std::string name(uint32_t address)
    {
        return address == registerA ? "A" : address == registerB ? "B" : "?";
    }
    int read32(uint32_t address, uint32_t* value) override
    {
        log.push_back("r " + name(address));
        if (failRead)
        {
            return -EIO;
        }
        *value = words[address];
        return 0;
    }
    int write32(uint32_t address, uint32_t value) override
    {
        log.push_back("w " + name(address) + "=" + std::to_string(value));
        if (!(value == 0 && stuck == address))
        {
            words[address] = value;
        }
        return 0;
    }
};

TEST(UidExrstVerify, SaveClearThenRestore)
{
    FakeRegisters registers;
    registers.words = {{registerA, 7}, {registerB, 2}};
    Saved saved;
    EXPECT_EQ(uidExrstVerify(Bytes{0x00}, registers, saved), success());
    EXPECT_EQ(saved.a, 7u);
    EXPECT_EQ(saved.b, 2u);
    EXPECT_THAT(registers.log,
                ElementsAre("r A", "r B", "w A=0", "w B=0", "r A", "r B"));
    EXPECT_EQ(registers.words[registerA], 0u);
    EXPECT_EQ(registers.words[registerB], 0u);

    registers.log.clear();
    EXPECT_EQ(uidExrstVerify(Bytes{0x02, 0xAA}, registers, saved), success());
    EXPECT_THAT(registers.log, ElementsAre("w A=7", "w B=2"));
}

TEST(UidExrstVerify, SaveKeepsTheLastEventWhenANoLongerHoldsOne)
{
    FakeRegisters registers;
    registers.words = {{registerA, 0}, {registerB, 9}};
    Saved saved{5, 6};
    EXPECT_EQ(uidExrstVerify(Bytes{0x00}, registers, saved), success());
    EXPECT_EQ(saved.a, 5u);
    EXPECT_EQ(saved.b, 6u);
    EXPECT_EQ(registers.words[registerB], 0u);

    // Failed reads count as 0: nothing is saved either.
    registers.failRead = true;
    registers.words = {{registerA, 1}, {registerB, 1}};
    EXPECT_EQ(uidExrstVerify(Bytes{0x00}, registers, saved), success());
    EXPECT_EQ(saved.a, 5u);
}

TEST(UidExrstVerify, ARegisterThatDoesNotClearAnswersInvalidCommand)
{
    FakeRegisters registers;
    registers.words = {{registerA, 3}, {registerB, 4}};
    registers.stuck = registerA;
    Saved saved;
    EXPECT_EQ(uidExrstVerify(Bytes{0x00}, registers, saved), failure(0xC1));
    // A still set: B is not read back.
    EXPECT_THAT(registers.log,
                ElementsAre("r A", "r B", "w A=0", "w B=0", "r A"));
    EXPECT_EQ(saved.a, 3u);

    registers.stuck = registerB;
    registers.words = {{registerA, 3}, {registerB, 4}};
    EXPECT_EQ(uidExrstVerify(Bytes{0x00}, registers, saved), failure(0xC1));
}

TEST(UidExrstVerify, ReadFlagIsBitOneOfB)
{
    const std::pair<uint32_t, uint8_t> values[] = {
        {0x0, 0x00}, {0x2, 0x01}, {0x3, 0x01}, {0xFFFFFFFD, 0x00}};
    for (auto [b, flag] : values)
    {
        FakeRegisters registers;
        registers.words[registerB] = b;
        Saved saved;
        EXPECT_EQ(uidExrstVerify(Bytes{0x01}, registers, saved),
                  success({flag}))
            << b;
        EXPECT_EQ(uidExrstVerify(Bytes{0x01, 0x00}, registers, saved),
                  success({flag}))
            << b;
    }
    FakeRegisters failing;
    failing.words[registerB] = 2;
    failing.failRead = true;
    Saved saved;
    EXPECT_EQ(uidExrstVerify(Bytes{0x01}, failing, saved), success({0x00}));
}

TEST(UidExrstVerify, RefusalsTouchNothing)
{
    const Case cases[] = {
        {"empty", {}, failure(0xC7)},
        {"restore with nothing saved", {0x02}, failure(0xCC)},
        {"subfunction 3", {0x03}, failure(0xCC)},
        {"subfunction 0xFF", {0xFF, 0x00}, failure(0xCC)},
    };
    for (const auto& c : cases)
    {
        FakeRegisters registers;
        Saved saved;
        EXPECT_EQ(uidExrstVerify(c.request, registers, saved), c.expected)
            << c.name;
        EXPECT_THAT(registers.log, IsEmpty()) << c.name;
    }
    // One saved register is enough to restore.
    FakeRegisters registers;
    Saved onlyB{0, 8};
    EXPECT_EQ(uidExrstVerify(Bytes{0x02}, registers, onlyB), success());
    EXPECT_THAT(registers.log, ElementsAre("w A=0", "w B=8"));
}

} // namespace
} // namespace kestrel::test
