#include "uid_exrst_verify.hpp"

namespace kestrel::uid_exrst_verify
{
namespace
{

constexpr uint32_t reportedFlag = 1u << 1;

constexpr uint8_t saveAndClear = 0x00;
constexpr uint8_t readFlag = 0x01;
constexpr uint8_t restore = 0x02;

uint32_t readRegister(Registers& registers, uint32_t address)
{
    uint32_t value = 0;
    registers.read32(address, &value);
    return value;
}

} // namespace

Answer uidExrstVerify(Request in, Registers& registers, Saved& saved)
{
    if (in.size() < 1)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    switch (in[0])
    {
        case saveAndClear:
        {
            uint32_t a = readRegister(registers, registerA);
            uint32_t b = readRegister(registers, registerB);
            if (a != 0)
            {
                saved = {a, b};
            }
            registers.write32(registerA, 0);
            registers.write32(registerB, 0);
            // B is read back only when A has cleared.
            if (readRegister(registers, registerA) != 0 ||
                readRegister(registers, registerB) != 0)
            {
                return failure(ipmi::ccInvalidCommand);
            }
            return success();
        }
        case readFlag:
            return success({(readRegister(registers, registerB) & reportedFlag)
                                ? uint8_t{0x01}
                                : uint8_t{0x00}});
        case restore:
            if (saved.a == 0 && saved.b == 0)
            {
                return failure(ipmi::ccInvalidFieldRequest);
            }
            registers.write32(registerA, saved.a);
            registers.write32(registerB, saved.b);
            return success();
        default:
            return failure(ipmi::ccInvalidFieldRequest);
    }
}

} // namespace kestrel::uid_exrst_verify
