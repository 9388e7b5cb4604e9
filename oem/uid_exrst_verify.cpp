// UID / external-reset verify: saves and clears, reads, or restores the two
// reset-event registers of the system control unit through libregpeek.
#include "uid_exrst_verify.hpp"

#include "commands.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"

#include <ipmid/api.h>

#include <cstdint>

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

// The registers as last saved; lives as long as ipmid.
kestrel::uid_exrst_verify::Saved saved;

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiUIDExrstVerify(ipmi_netfn_t, ipmi_cmd_t,
                                             ipmi_request_t request,
                                             ipmi_response_t response,
                                             ipmi_data_len_t dataLen,
                                             ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::uid_exrst_verify::uidExrstVerify,
                                 BoardRegisters{}, saved);
}

KESTREL_EXPORT void register_netfn_oem_uid_exrst_verify()
    __attribute__((constructor(KESTREL_CTOR_UID_EXRST_VERIFY)));

void register_netfn_oem_uid_exrst_verify()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnKestrel, uidExrstVerify, nullptr,
                           ipmiUIDExrstVerify, SYSTEM_INTERFACE);
}

} // extern "C"
