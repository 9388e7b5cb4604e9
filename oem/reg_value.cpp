// Register access: read or write any 32-bit word of the service processor's
// physical address space through libregpeek.
#include "reg_value.hpp"

#include "commands.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"

#include <ipmid/api.h>

#include <cstdint>
#include <cstdio>

#include "regpeek.h"

namespace
{

struct BoardRegisters final : kestrel::reg_value::Registers
{
    int read32(uint32_t address, uint32_t* value) override
    {
        return mmap_read32(address, value);
    }
    int write32(uint32_t address, uint32_t value) override
    {
        return mmap_write32(address, value);
    }
};

struct StdoutLog final : kestrel::reg_value::Log
{
    void setRegValue(uint32_t address, uint32_t value) override
    {
        std::printf("ipmiSetRegValue reg=%x,value=%x\n", address, value);
        std::fflush(stdout);
    }
    void getRegValue(uint32_t address, uint32_t value) override
    {
        std::printf("ipmiGetRegValue reg=%x,value=%x\n", address, value);
        std::fflush(stdout);
    }
};

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiSetRegValue(ipmi_netfn_t, ipmi_cmd_t,
                                          ipmi_request_t request,
                                          ipmi_response_t response,
                                          ipmi_data_len_t dataLen,
                                          ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::reg_value::setRegValue,
                                 BoardRegisters{}, StdoutLog{});
}

KESTREL_EXPORT ipmi_ret_t ipmiGetRegValue(ipmi_netfn_t, ipmi_cmd_t,
                                          ipmi_request_t request,
                                          ipmi_response_t response,
                                          ipmi_data_len_t dataLen,
                                          ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::reg_value::getRegValue,
                                 BoardRegisters{}, StdoutLog{});
}

KESTREL_EXPORT void register_netfn_oem_reg_value()
    __attribute__((constructor(KESTREL_CTOR_REG_VALUE)));

void register_netfn_oem_reg_value()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnKestrel, setRegValue, nullptr, ipmiSetRegValue,
                           SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, getRegValue, nullptr, ipmiGetRegValue,
                           SYSTEM_INTERFACE);
}

} // extern "C"
