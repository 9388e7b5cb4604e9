// GARP and Wake-on-LAN: two on/off network settings kept in the key/value
// store.  Nothing on the BMC acts on them; the host reads them back.
#include "keyshelf.h"
#include "misc_subcommands.hpp"

#include <ipmid/api.hpp>

#include <cstdint>
#include <vector>

namespace
{

constexpr uint8_t opSet = 0x00;
constexpr uint8_t opGet = 0x01;

constexpr auto garpSection = "GARP";
constexpr auto wakeOnLanSection = "WakeOnLan";
constexpr auto enabledKey = "Enabled";

uint8_t storedSetting(const char* section)
{
    return static_cast<uint8_t>(get_ini_long(section, enabledKey, 0));
}

} // namespace

/** Byte 0 is not looked at; byte 1 is the operation, byte 2 the value to
 *  set.  Exported but not registered: no NetFn/command reaches it. */
extern "C" KESTREL_EXPORT ipmi_ret_t ipmiGarp(ipmi_netfn_t, ipmi_cmd_t,
                                              ipmi_request_t request,
                                              ipmi_response_t response,
                                              ipmi_data_len_t dataLen,
                                              ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    const auto* in = static_cast<const uint8_t*>(request);
    if (length < 2)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    switch (in[1])
    {
        case opSet:
            if (length < 3)
            {
                return ipmi::ccReqDataLenInvalid;
            }
            // As stored by the host, unchecked; a store failure is not seen.
            set_ini_long(garpSection, enabledKey, in[2]);
            return ipmi::ccSuccess;
        case opGet:
            static_cast<uint8_t*>(response)[0] = storedSetting(garpSection);
            *dataLen = 1;
            return ipmi::ccSuccess;
        default:
            return ipmi::ccInvalidCommand;
    }
}

ipmi::RspType<std::vector<uint8_t>> ipmiWakeOnLan(ipmi::Context::ptr&,
                                                  std::vector<uint8_t> data)
{
    if (data.size() == 2 && data[0] == opSet)
    {
        set_ini_long(wakeOnLanSection, enabledKey, data[1]);
        return ipmi::responseSuccess(std::vector<uint8_t>{});
    }
    if (data.size() == 1 && data[0] == opGet)
    {
        return ipmi::responseSuccess(
            std::vector<uint8_t>{storedSetting(wakeOnLanSection)});
    }
    return ipmi::responseInvalidFieldRequest();
}
