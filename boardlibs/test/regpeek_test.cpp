#include "internal.hpp"
#include "scratch_dir.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>

namespace
{

class RegpeekTest : public ScratchDir
{
  protected:
    void SetUp() override
    {
        ScratchDir::SetUp();
        mem = path("mem");
        int fd = ::open(mem.c_str(), O_CREAT | O_RDWR, 0644);
        ASSERT_GE(fd, 0);
        // Sparse: a hole standing in for physical memory.
        ASSERT_EQ(::ftruncate(fd, 1 << 20), 0);
        ::close(fd);
    }

    std::string mem;
};

TEST_F(RegpeekTest, WriteLandsInFileAndReadsBack)
{
    const uint32_t address = 0x3000 + 0x24;
    ASSERT_EQ(regpeek::write32(mem.c_str(), address, 0x11223344), 0);

    uint32_t value = 0;
    ASSERT_EQ(regpeek::read32(mem.c_str(), address, &value), 0);
    EXPECT_EQ(value, 0x11223344U);

    std::vector<uint8_t> bytes = slurp(mem);
    uint32_t stored;
    std::memcpy(&stored, bytes.data() + address, sizeof(stored));
    EXPECT_EQ(stored, 0x11223344U);
    if constexpr (std::endian::native == std::endian::little)
    {
        EXPECT_EQ(bytes[address], 0x44);
        EXPECT_EQ(bytes[address + 3], 0x11);
    }
    // Neighbours in the same page are untouched.
    EXPECT_EQ(bytes[address - 1], 0);
    EXPECT_EQ(bytes[address + 4], 0);

    // The last word of the file is reachable too.
    ASSERT_EQ(regpeek::write32(mem.c_str(), (1 << 20) - 4, 0xcafef00d), 0);
    ASSERT_EQ(regpeek::read32(mem.c_str(), (1 << 20) - 4, &value), 0);
    EXPECT_EQ(value, 0xcafef00dU);
}

TEST_F(RegpeekTest, RejectedAccessLeavesValueAlone)
{
    uint32_t value = 0x5a5a5a5a;
    for (uint32_t address : {0x1001U, 0x1002U, 0x1003U})
    {
        EXPECT_EQ(regpeek::read32(mem.c_str(), address, &value), -EINVAL);
        EXPECT_EQ(regpeek::write32(mem.c_str(), address, 1), -EINVAL);
    }
    // Beyond the end of a regular file a mapping would fault.
    EXPECT_EQ(regpeek::read32(mem.c_str(), 1 << 20, &value), -EINVAL);

    std::string missing = path("nomem");
    EXPECT_EQ(regpeek::read32(missing.c_str(), 0, &value), -ENOENT);
    EXPECT_EQ(value, 0x5a5a5a5aU);
    EXPECT_EQ(slurp(mem), std::vector<uint8_t>(1 << 20));
}

} // namespace
