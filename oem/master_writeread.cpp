// I2C master write-read: a raw write, read or write-then-read transaction on
// any I2C bus of the service processor, through libsmbridge.
#include "master_writeread.hpp"

#include "commands.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"

#include <ipmid/api.h>

#include <cstdint>
#include <string>

#include "smbridge.h"

namespace
{

constexpr auto i2cDevicePrefix = "/dev/i2c-";

struct SmbridgeBus final : kestrel::master_writeread::I2cBus
{
    int transfer(const std::string& device, uint8_t address,
                 const uint8_t* writeData, uint8_t* readBuffer,
                 uint32_t writeLength, uint32_t readLength) override
    {
        return bus_xfer(device.c_str(), address, writeData, readBuffer,
                        writeLength, readLength);
    }
    int write(const std::string& device, uint8_t address, const uint8_t* data,
              uint32_t length) override
    {
        return i2c_master_write(device.c_str(), address, data, length);
    }
    int read(const std::string& device, uint8_t address, uint8_t* buffer,
             uint32_t length) override
    {
        return i2c_master_read(device.c_str(), address, buffer, length);
    }
};

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiMasterWriteRead(ipmi_netfn_t, ipmi_cmd_t,
                                              ipmi_request_t request,
                                              ipmi_response_t response,
                                              ipmi_data_len_t dataLen,
                                              ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::master_writeread::masterWriteRead,
                                 SmbridgeBus{}, i2cDevicePrefix);
}

KESTREL_EXPORT void register_netfn_oem_master_writeread()
    __attribute__((constructor(KESTREL_CTOR_MASTER_WRITEREAD)));

void register_netfn_oem_master_writeread()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnKestrel, masterWriteRead, nullptr,
                           ipmiMasterWriteRead, SYSTEM_INTERFACE);
}

} // extern "C"
