// I2C master write-read against a fake bus whose reads fill the buffer
// with 0xA0, 0xA1, ...
#include "fakes.hpp"
#include "master_writeread.hpp"

namespace kestrel::test::master_writeread_cases
{

/** Logs "function device address w:written r:read length". */
struct FakeI2c : master_writeread::I2cBus
{
    Strings calls;
    int rc = 0;
    uint32_t filled = 0xFFFF; // how many requested bytes a read fills

    int note(const std::string& what, const std::string& device, uint8_t at,
             Request written, uint8_t* into, uint32_t length)
    {
        calls.push_back(what + " " + device + " " + hex(Bytes{at}) +
                        " w:" + hex(written) + " r:" + std::to_string(length));
        for (uint32_t i = 0; i < std::min(length, filled); ++i)
        {
            into[i] = static_cast<uint8_t>(0xA0 + i);
        }
        return rc;
    }
    int transfer(const std::string& device, uint8_t address,
                 const uint8_t* data, uint8_t* into, uint32_t length,
                 uint32_t readLength) override
    {
        return note("xfer", device, address, {data, length}, into, readLength);
    }
    int write(const std::string& device, uint8_t address, const uint8_t* data,
              uint32_t length) override
    {
        return note("write", device, address, {data, length}, nullptr, 0);
    }
    int read(const std::string& device, uint8_t address, uint8_t* into,
             uint32_t length) override
    {
        return note("read", device, address, {}, into, length);
    }
};

Answer run(Request in, FakeI2c& bus)
{
    return master_writeread::masterWriteRead(in, bus, "i2c-");
}

TEST(MasterWriteRead, Transactions)
{
    const std::string xfer = "xfer i2c-3 50 w:00 r:2";
    const Case cases[] = {
        {"too short", {0x03, 0xA0}, cc(0xC7)},
        {"odd address", {0x03, 0xA1, 0x01}, cc(0xC7)},
        {"write then read", {3, 0xA0, 2, 0}, ok({0xA0, 0xA1}), {xfer}},
        {"read", {12, 0x9E, 1}, ok({0xA0}), {"read i2c-12 4f w: r:1"}},
        {"write", {255, 0x40, 0, 0x11}, ok(), {"write i2c-255 20 w:11 r:0"}},
        {"probe", {0, 0xFE, 0}, ok(), {"read i2c-0 7f w: r:1"}},
    };
    check<FakeI2c>(cases, run);
    FakeI2c failing;
    failing.rc = -EIO;
    const Case failed[] = {
        {"write then read", {3, 0xA0, 2, 0}, cc(0xC1), {xfer}},
        {"probe", {3, 0xA0, 0}, cc(0xC1), {"read i2c-3 50 w: r:1"}},
    };
    check(failed, run, failing);
}

TEST(MasterWriteRead, BytesTheLibraryLeavesAloneAnswerZero)
{
    FakeI2c bus;
    bus.filled = 2;
    Bytes request(3 + 255, 0x5A);
    request[0] = 0x01;
    request[1] = 0x02;
    request[2] = 0xFF;
    Bytes expected(255, 0x00);
    expected[0] = 0xA0;
    expected[1] = 0xA1;
    EXPECT_EQ(run(request, bus), ok(expected));
    EXPECT_EQ(bus.calls,
              Strings{"xfer i2c-1 01 w:" + hex(Bytes(255, 0x5A)) + " r:255"});
}

} // namespace kestrel::test::master_writeread_cases
