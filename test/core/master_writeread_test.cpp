// I2C master write-read against a fake bus.
#include "fakes.hpp"
#include "master_writeread.hpp"

#include <numeric>

namespace kestrel::test::master_writeread_cases
{

/** Logs "function device address written length"; a read fills at most
 *  `filled` bytes. */
struct FakeI2c : master_writeread::I2cBus, Recorder
{
    uint32_t filled = 0xFFFF;

    int fill(int rc, uint8_t* into, uint32_t length) const
    {
        std::iota(into, into + std::min(length, filled), uint8_t{0xA0});
        return rc;
    }
    int transfer(const std::string& device, uint8_t at, const uint8_t* data,
                 uint8_t* into, uint32_t length, uint32_t readLength) override
    {
        int rc = record<int>("transfer", device, at, hex({data, length}),
                             readLength);
        return fill(rc, into, readLength);
    }
    int write(const std::string& device, uint8_t at, const uint8_t* data,
              uint32_t length) override
    {
        return record<int>("write", device, at, hex({data, length}));
    }
    int read(const std::string& device, uint8_t at, uint8_t* into,
             uint32_t length) override
    {
        return fill(record<int>("read", device, at, length), into, length);
    }
};

TEST(MasterWriteRead, Transactions)
{
    auto run = [](Request in, FakeI2c& bus) {
        return master_writeread::masterWriteRead(in, bus, "i2c-");
    };
    const std::string xfer = "transfer i2c-3 80 00 2";
    const Case cases[] = {
        {"too short", {0x03, 0xA0}, cc(0xC7)},
        {"odd address", {0x03, 0xA1, 0x01}, cc(0xC7)},
        {"write then read", {3, 0xA0, 2, 0}, ok({0xA0, 0xA1}), {xfer}},
        {"read", {12, 0x9E, 1}, ok({0xA0}), {"read i2c-12 79 1"}},
        {"write", {255, 0x40, 0, 0x11}, ok(), {"write i2c-255 32 11"}},
        {"probe", {0, 0xFE, 0}, ok(), {"read i2c-0 127 1"}},
    };
    check<FakeI2c>(cases, run);
    FakeI2c failing;
    failing.answers = {{"transfer", "-5"}, {"read", "-5"}};
    const Case failed[] = {
        {"write then read", {3, 0xA0, 2, 0}, cc(0xC1), {xfer}},
        {"probe", {3, 0xA0, 0}, cc(0xC1), {"read i2c-3 80 1"}},
    };
    check(failed, run, failing);

    // Bytes the library leaves alone answer zero.
    FakeI2c bus;
    bus.filled = 2;
    Bytes request = cat({0x01, 0x02, 0xFF}, Bytes(255, 0x5A));
    Bytes expected = cat({0xA0, 0xA1}, Bytes(253, 0x00));
    EXPECT_EQ(run(request, bus), ok(expected));
    EXPECT_EQ(bus.calls,
              Strings{"transfer i2c-1 1 " + hex(Bytes(255, 0x5A)) + " 255"});
}

} // namespace kestrel::test::master_writeread_cases
