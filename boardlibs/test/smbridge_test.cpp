#include "internal.hpp"
#include "scratch_dir.hpp"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <span>
#include <tuple>

/** Address, flags and bytes of one message. */
using Msg = std::tuple<uint16_t, uint16_t, Bytes>;

// What the fake adapter saw in the last I2C_RDWR, and how it answers: the
// device reads as 0xa0, 0xa1, ...
std::vector<Msg> seen;
int fakeResult = -1;
int fakeErrno = 0;

int fakeRdwr(int, i2c_rdwr_ioctl_data* xfer)
{
    seen.clear();
    for (i2c_msg& m : std::span(xfer->msgs, xfer->nmsgs))
    {
        for (uint16_t j = 0; (m.flags & I2C_M_RD) && j < m.len; ++j)
        {
            m.buf[j] = static_cast<uint8_t>(0xa0 + j);
        }
        seen.push_back({m.addr, m.flags, {m.buf, m.buf + m.len}});
    }
    errno = fakeErrno;
    return fakeResult < 0 && fakeErrno == 0 ? static_cast<int>(xfer->nmsgs)
                                            : fakeResult;
}

using SmbridgeTest = ScratchDir;

TEST_F(SmbridgeTest, MessageShapesAndFailures)
{
    std::string device = path("i2c-fake");
    spit(device, ""); // any openable node stands in for /dev/i2c-N
    auto xfer = [&device](const uint8_t* wr, uint8_t* rd, uint32_t wlen,
                          uint32_t rlen, uint8_t address = 0x50) {
        return smbridge::busXfer(device.c_str(), fakeRdwr, address, wr, rd,
                                 wlen, rlen);
    };
    const uint8_t reg[] = {0x12, 0x34};
    uint8_t in[3] = {};
    ASSERT_EQ(xfer(reg, in, 2, 3), 0);
    EXPECT_EQ(seen, (std::vector<Msg>{{0x50, 0, {0x12, 0x34}},
                                      {0x50, I2C_M_RD, {0xa0, 0xa1, 0xa2}}}));
    EXPECT_EQ(Bytes(in, in + 3), Bytes({0xa0, 0xa1, 0xa2}));
    ASSERT_EQ(xfer(reg, nullptr, 2, 0), 0);
    EXPECT_EQ(seen, (std::vector<Msg>{{0x50, 0, {0x12, 0x34}}}));
    ASSERT_EQ(xfer(nullptr, in, 0, 1), 0);
    EXPECT_EQ(seen, (std::vector<Msg>{{0x50, I2C_M_RD, {0xa0}}}));

    // The adapter's errno is passed on, negated.
    const uint8_t byte = 0;
    fakeErrno = ENXIO;
    EXPECT_EQ(xfer(&byte, in, 1, 1), -ENXIO);
    // The adapter completed only the first message.
    fakeErrno = 0;
    fakeResult = 1;
    EXPECT_LT(xfer(&byte, in, 1, 1), 0);

    // Requests the kernel would reject or truncate never reach it.
    seen.clear();
    EXPECT_EQ(xfer(&byte, nullptr, 1, 0, 0x80), -EINVAL);
    Bytes big(8193);
    EXPECT_EQ(xfer(big.data(), nullptr, big.size(), 0), -EINVAL);
    EXPECT_EQ(xfer(nullptr, nullptr, 1, 0), -EINVAL);
    EXPECT_TRUE(seen.empty());
    device = path("i2c-99");
    EXPECT_EQ(xfer(&byte, nullptr, 1, 0), -ENOENT);
}
