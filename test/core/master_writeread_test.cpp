// I2C master write-read against a fake bus whose reads fill the buffer
// with 0xA0, 0xA1, ...
#include "fakes.hpp"
#include "master_writeread.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using master_writeread::masterWriteRead;
using testing::IsEmpty;

struct Transfer
{
    std::string function;
    std::string device;
    uint8_t address;
    Bytes written;
    uint32_t readLength;

    bool operator==(const Transfer&) const = default;
};

struct FakeI2c : master_writeread::I2cBus
{
    std::vector<Transfer> transfers;
    int rc = 0;
    /** How many of the requested bytes a read fills. */
    std::optional<uint32_t> filled;

    void fill(uint8_t* buffer, uint32_t length)
    {
        for (uint32_t i = 0; i < std::min(length, filled.value_or(length)); ++i)
        {
            buffer[i] = static_cast<uint8_t>(0xA0 + i);
        }
    }
    int transfer(const std::string& device, uint8_t address,
                 const uint8_t* writeData, uint8_t* readBuffer,
                 uint32_t writeLength, uint32_t readLength) override
    {
        transfers.push_back({"xfer", device, address,
                             Bytes(writeData, writeData + writeLength),
                             readLength});
        fill(readBuffer, readLength);
        return rc;
    }
    int write(const std::string& device, uint8_t address, const uint8_t* data,
              uint32_t length) override
    {
        transfers.push_back(
            {"write", device, address, Bytes(data, data + length), 0});
        return rc;
    }
    int read(const std::string& device, uint8_t address, uint8_t* buffer,
             uint32_t length) override
    {
        transfers.push_back({"read", device, address, {}, length});
        fill(buffer, length);
        return rc;
    }
};

constexpr auto prefix = "i2c-";

TEST(MasterWriteRead, Transactions)
{
    const struct
    {
        const char* name;
        Bytes request;
        Answer expected;
        Transfer transfer;
    } cases[] = {
        {"write then read",
         {0x03, 0xA0, 0x02, 0x00},
         success({0xA0, 0xA1}),
         {"xfer", "i2c-3", 0x50, {0x00}, 2}},
        {"read",
         {0x0C, 0x9E, 0x03},
         success({0xA0, 0xA1, 0xA2}),
         {"read", "i2c-12", 0x4F, {}, 3}},
        {"write",
         {0xFF, 0x40, 0x00, 0x11, 0x22},
         success(),
         {"write", "i2c-255", 0x20, {0x11, 0x22}, 0}},
        {"probe",
         {0x00, 0xFE, 0x00},
         success(),
         {"read", "i2c-0", 0x7F, {}, 1}},
    };
    for (const auto& c : cases)
    {
        FakeI2c bus;
        EXPECT_EQ(masterWriteRead(c.request, bus, prefix), c.expected)
            << c.name;
        EXPECT_EQ(bus.transfers, std::vector<Transfer>{c.transfer}) << c.name;
    }
}

TEST(MasterWriteRead, LongestWriteAndRead)
{
    Bytes request{0x01, 0x02, 0xFF};
    for (int i = 0; i < 255; ++i)
    {
        request.push_back(static_cast<uint8_t>(i));
    }
    FakeI2c bus;
    bus.filled = 2;
    Answer answer = masterWriteRead(request, bus, prefix);
    ASSERT_EQ(bus.transfers.size(), 1u);
    EXPECT_EQ(bus.transfers[0].written,
              Bytes(request.begin() + 3, request.end()));
    EXPECT_EQ(bus.transfers[0].readLength, 255u);
    // Bytes the library leaves alone answer as zero.
    Bytes expected(255, 0x00);
    expected[0] = 0xA0;
    expected[1] = 0xA1;
    EXPECT_EQ(answer, success(expected));
}

TEST(MasterWriteRead, RefusedRequestsTouchNoBus)
{
    for (const Bytes& request :
         {Bytes{}, Bytes{0x03}, Bytes{0x03, 0xA0}, Bytes{0x03, 0xA1, 0x01},
          Bytes{0x03, 0x01, 0x00, 0x05}})
    {
        FakeI2c bus;
        EXPECT_EQ(masterWriteRead(request, bus, prefix), failure(0xC7))
            << testing::PrintToString(request);
        EXPECT_THAT(bus.transfers, IsEmpty());
    }
}

TEST(MasterWriteRead, LibraryFailureAnswersNoData)
{
    for (const Bytes& request :
         {Bytes{0x03, 0xA0, 0x02, 0x00}, Bytes{0x03, 0xA0, 0x02},
          Bytes{0x03, 0xA0, 0x00, 0x01}, Bytes{0x03, 0xA0, 0x00}})
    {
        FakeI2c bus;
        bus.rc = -EIO;
        EXPECT_EQ(masterWriteRead(request, bus, prefix), failure(0xC1))
            << testing::PrintToString(request);
        EXPECT_EQ(bus.transfers.size(), 1u);
    }
}

} // namespace
} // namespace kestrel::test
