// I2C master write-read: a raw write, read or write-then-read transaction on
// any I2C bus of the service processor.  The read data lands straight in the
// response buffer.
#include "kestrel.hpp"
#include "smbridge.h"

#include <ipmid/api.hpp>

#include <cstdint>
#include <cstdio>

namespace
{

constexpr ipmi_netfn_t netFnKestrel = 0x3A;
constexpr ipmi_cmd_t cmdMasterWriteRead = 0x52;

constexpr std::size_t headerLength = 3; // bus, address, read count

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiMasterWriteRead(ipmi_netfn_t, ipmi_cmd_t,
                                              ipmi_request_t request,
                                              ipmi_response_t response,
                                              ipmi_data_len_t dataLen,
                                              ipmi_context_t)
{
    std::size_t length = *dataLen;
    // Error answers carry no data.
    *dataLen = 0;
    const auto* in = static_cast<const uint8_t*>(request);
    if (in == nullptr || length < headerLength || (in[1] & 0x01) != 0)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    char device[64];
    std::snprintf(device, sizeof(device), "/dev/i2c-%d", in[0]);
    auto address = static_cast<uint8_t>(in[1] >> 1);
    uint8_t readCount = in[2];
    auto writeCount = static_cast<uint8_t>(length - headerLength);
    const uint8_t* writeData = in + headerLength;
    auto* readData = static_cast<uint8_t*>(response);

    int rc = 0;
    if (writeCount == 0)
    {
        // With nothing to read either, a one-byte read probes the device;
        // the byte is not returned.
        rc = i2c_master_read(device, address, readData,
                             readCount == 0 ? 1 : readCount);
    }
    else if (readCount == 0)
    {
        rc = i2c_master_write(device, address, writeData, writeCount);
    }
    else
    {
        rc = bus_xfer(device, address, writeData, readData, writeCount,
                      readCount);
    }
    if (rc < 0)
    {
        return ipmi::ccInvalidCommand;
    }
    *dataLen = readCount;
    return ipmi::ccSuccess;
}

KESTREL_EXPORT void register_netfn_oem_master_writeread()
    __attribute__((constructor(KESTREL_CTOR_MASTER_WRITEREAD)));

void register_netfn_oem_master_writeread()
{
    ipmi_register_callback(netFnKestrel, cmdMasterWriteRead, nullptr,
                           ipmiMasterWriteRead, SYSTEM_INTERFACE);
}

} // extern "C"
