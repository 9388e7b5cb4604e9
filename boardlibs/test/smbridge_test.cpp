#include "internal.hpp"
#include "scratch_dir.hpp"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cerrno>

namespace
{

struct Msg
{
    uint16_t addr;
    uint16_t flags;
    std::vector<uint8_t> data;
};

// What the fake adapter saw in the last I2C_RDWR, and how it answers.
std::vector<Msg> seen;
int fakeResult = -1;
int fakeErrno = 0;

int fakeRdwr(int, i2c_rdwr_ioctl_data* xfer)
{
    seen.clear();
    for (uint32_t i = 0; i < xfer->nmsgs; ++i)
    {
        i2c_msg& m = xfer->msgs[i];
        if (m.flags & I2C_M_RD)
        {
            // The device answers with 0xa0, 0xa1, ...
            for (uint16_t j = 0; j < m.len; ++j)
            {
                m.buf[j] = static_cast<uint8_t>(0xa0 + j);
            }
        }
        seen.push_back({m.addr, m.flags, {m.buf, m.buf + m.len}});
    }
    errno = fakeErrno;
    return fakeResult < 0 && fakeErrno == 0 ? static_cast<int>(xfer->nmsgs)
                                            : fakeResult;
}

class SmbridgeTest : public ScratchDir
{
  protected:
    void SetUp() override
    {
        ScratchDir::SetUp();
        // Any openable node stands in for /dev/i2c-N.
        device = path("i2c-fake");
        spit(device, "");
        seen.clear();
        fakeResult = -1;
        fakeErrno = 0;
    }

    int xfer(const uint8_t* wr, uint8_t* rd, uint32_t wlen, uint32_t rlen)
    {
        return smbridge::busXfer(device.c_str(), fakeRdwr, 0x50, wr, rd, wlen,
                                 rlen);
    }

    std::string device;
};

TEST_F(SmbridgeTest, MessageShapes)
{
    const uint8_t reg[] = {0x12, 0x34};
    uint8_t in[3] = {};

    ASSERT_EQ(xfer(reg, in, 2, 3), 0);
    ASSERT_EQ(seen.size(), 2U);
    EXPECT_EQ(seen[0].addr, 0x50);
    EXPECT_EQ(seen[0].flags, 0);
    EXPECT_EQ(seen[0].data, std::vector<uint8_t>(reg, reg + 2));
    EXPECT_EQ(seen[1].addr, 0x50);
    EXPECT_EQ(seen[1].flags, I2C_M_RD);
    EXPECT_EQ(seen[1].data.size(), 3U);
    EXPECT_EQ(std::vector<uint8_t>(in, in + 3),
              (std::vector<uint8_t>{0xa0, 0xa1, 0xa2}));

    ASSERT_EQ(xfer(reg, nullptr, 2, 0), 0);
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0].flags, 0);
    EXPECT_EQ(seen[0].data, std::vector<uint8_t>(reg, reg + 2));

    ASSERT_EQ(xfer(nullptr, in, 0, 1), 0);
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0].flags, I2C_M_RD);
    EXPECT_EQ(seen[0].data.size(), 1U);
}

TEST_F(SmbridgeTest, FailuresAreNegative)
{
    const uint8_t byte = 0;
    uint8_t in = 0;

    fakeErrno = ENXIO;
    EXPECT_EQ(xfer(&byte, &in, 1, 1), -ENXIO);

    // The adapter completed only the first message.
    fakeErrno = 0;
    fakeResult = 1;
    EXPECT_LT(xfer(&byte, &in, 1, 1), 0);

    fakeResult = -1;
    std::string missing = path("i2c-99");
    EXPECT_EQ(smbridge::busXfer(missing.c_str(), fakeRdwr, 0x50, &byte, nullptr,
                                1, 0),
              -ENOENT);
    EXPECT_EQ(smbridge::busXfer(missing.c_str(), smbridge::kernelRdwr, 0x50,
                                &byte, nullptr, 1, 0),
              -ENOENT);

    // Requests the kernel would reject or truncate never reach it.
    seen.clear();
    EXPECT_EQ(
        smbridge::busXfer(device.c_str(), fakeRdwr, 0x80, &byte, nullptr, 1, 0),
        -EINVAL);
    std::vector<uint8_t> big(70000);
    EXPECT_EQ(xfer(big.data(), nullptr, big.size(), 0), -EINVAL);
    EXPECT_EQ(xfer(nullptr, nullptr, 1, 0), -EINVAL);
    EXPECT_TRUE(seen.empty());

    // The real ioctl on something that is not an adapter.
    EXPECT_LT(smbridge::busXfer(device.c_str(), smbridge::kernelRdwr, 0x50,
                                &byte, nullptr, 1, 0),
              0);
}

} // namespace
