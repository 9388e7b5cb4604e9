#include "bmc_interface.hpp"

#include <cstdint>

namespace kestrel::bmc_interface
{
namespace
{

constexpr std::size_t requestLength = 3;
constexpr std::size_t interfaceCount = 3;
constexpr uint8_t maxMask = 0x07;
constexpr uint8_t interfaceAvailable = 0x07;

} // namespace

Answer getBmcInterface(Request in)
{
    if (in.size() < requestLength)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    if (in[0] != 0x01 || in[1] != 0x00 || in[2] > maxMask)
    {
        return failure(ipmi::ccInvalidCommand);
    }
    Bytes out(interfaceCount, 0x00);
    for (std::size_t bit = 0; bit < interfaceCount; ++bit)
    {
        if ((in[2] & (1u << bit)) != 0)
        {
            out[bit] = interfaceAvailable;
        }
    }
    return success(std::move(out));
}

} // namespace kestrel::bmc_interface
