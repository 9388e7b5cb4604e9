#include "internal.hpp"
#include "scratch_dir.hpp"

using RegpeekTest = ScratchDir;

TEST_F(RegpeekTest, WordsLandInTheFileAndFaultyAccessIsRefused)
{
    const std::string mem = path("mem");
    spit(mem, "");
    std::filesystem::resize_file(mem, 1 << 20); // sparse: a hole
    const uint32_t address = 0x3000 + 0x24;
    uint32_t value = 0;
    ASSERT_EQ(regpeek::write32(mem.c_str(), address, 0x11223344), 0);
    ASSERT_EQ(regpeek::read32(mem.c_str(), address, &value), 0);
    EXPECT_EQ(value, 0x11223344U);
    // Neighbours in the same page are untouched.
    Bytes bytes = slurp(mem);
    EXPECT_EQ(bytes[address - 1], 0);
    EXPECT_EQ(bytes[address + 4], 0);
    // The last word of the file is reachable too.
    ASSERT_EQ(regpeek::write32(mem.c_str(), (1 << 20) - 4, 0xcafef00d), 0);
    ASSERT_EQ(regpeek::read32(mem.c_str(), (1 << 20) - 4, &value), 0);
    EXPECT_EQ(value, 0xcafef00dU);

    for (uint32_t address : {0x1001U, 0x1002U, 0x1003U})
    {
        EXPECT_EQ(regpeek::read32(mem.c_str(), address, &value), -EINVAL);
        EXPECT_EQ(regpeek::write32(mem.c_str(), address, 1), -EINVAL);
    }
    // Beyond the end of a regular file a mapping would fault.
    EXPECT_EQ(regpeek::read32(mem.c_str(), 1 << 20, &value), -EINVAL);
    EXPECT_EQ(regpeek::read32(path("nomem").c_str(), 0, &value), -ENOENT);
    EXPECT_EQ(value, 0xcafef00dU);
    EXPECT_EQ(slurp(mem).at(0x1001), 0);
}
