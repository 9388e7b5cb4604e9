// A recording libsmbridge: same soname and entry points as the real one.
// It keeps every call for the test to inspect, fills read buffers with a
// pattern and answers the result the test sets.  Tests load it in place of
// the real library with LD_LIBRARY_PATH.
#include "smbridge_double.h"

#include <cstring>
#include <string>
#include <vector>

namespace
{

std::vector<SmbridgeCall> calls;
int nextResult = 0;

int record(SmbridgeFunction function, const char* device, uint8_t address,
           const uint8_t* writeData, uint32_t writeLength, uint8_t* readBuffer,
           uint32_t readLength)
{
    SmbridgeCall call{};
    call.function = function;
    std::strncpy(call.device, device != nullptr ? device : "",
                 sizeof(call.device) - 1);
    call.address = address;
    call.writeLength = writeLength;
    call.readLength = readLength;
    for (uint32_t i = 0; i < writeLength && i < sizeof(call.writeData); ++i)
    {
        call.writeData[i] = writeData[i];
    }
    calls.push_back(call);
    if (nextResult >= 0)
    {
        // Byte i of a read is 0xA0 + i, so tests can tell the bytes apart.
        for (uint32_t i = 0; i < readLength; ++i)
        {
            readBuffer[i] = static_cast<uint8_t>(0xA0 + i);
        }
    }
    return nextResult;
}

} // namespace

extern "C" {

int bus_xfer(const char* device, uint8_t address, const uint8_t* write_data,
             uint8_t* read_buffer, uint32_t write_length, uint32_t read_length)
{
    return record(smbridgeBusXfer, device, address, write_data, write_length,
                  read_buffer, read_length);
}

int i2c_master_write(const char* device, uint8_t address, const uint8_t* data,
                     uint32_t length)
{
    return record(smbridgeMasterWrite, device, address, data, length, nullptr,
                  0);
}

int i2c_master_read(const char* device, uint8_t address, uint8_t* buffer,
                    uint32_t length)
{
    return record(smbridgeMasterRead, device, address, nullptr, 0, buffer,
                  length);
}

size_t smbridge_double_calls(const SmbridgeCall** out)
{
    *out = calls.data();
    return calls.size();
}

void smbridge_double_reset(int result)
{
    calls.clear();
    nextResult = result;
}

} // extern "C"
