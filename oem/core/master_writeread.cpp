#include "master_writeread.hpp"

namespace kestrel::master_writeread
{
namespace
{

constexpr std::size_t headerLength = 3; // bus, address, read count

} // namespace

std::string devicePath(std::string_view prefix, uint8_t bus)
{
    return std::string(prefix) + std::to_string(bus);
}

Answer masterWriteRead(Request in, I2cBus& bus, std::string_view devicePrefix)
{
    if (in.size() < headerLength || (in[1] & 0x01) != 0)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    const std::string device = devicePath(devicePrefix, in[0]);
    auto address = static_cast<uint8_t>(in[1] >> 1);
    uint8_t readCount = in[2];
    auto writeCount = static_cast<uint8_t>(in.size() - headerLength);
    const uint8_t* writeData = in.data() + headerLength;
    // Zeroed, as ipmid's response buffer is.
    Bytes readData(readCount, 0x00);

    int rc = 0;
    if (writeCount == 0 && readCount == 0)
    {
        // With nothing to read either, a one-byte read probes the device;
        // the byte is not returned.
        uint8_t probe = 0;
        rc = bus.read(device, address, &probe, 1);
    }
    else if (writeCount == 0)
    {
        rc = bus.read(device, address, readData.data(), readCount);
    }
    else if (readCount == 0)
    {
        rc = bus.write(device, address, writeData, writeCount);
    }
    else
    {
        rc = bus.transfer(device, address, writeData, readData.data(),
                          writeCount, readCount);
    }
    if (rc < 0)
    {
        return failure(ipmi::ccInvalidCommand);
    }
    return success(std::move(readData));
}

} // namespace kestrel::master_writeread
