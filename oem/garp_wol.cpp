// GARP and Wake-on-LAN settings in the key/value store.
#include "garp_wol.hpp"

#include "legacy.hpp"
#include "misc_subcommands.hpp"

#include <cstdint>
#include <ipmid/api.hpp>
#include <vector>

#include "keyshelf.h"

namespace
{

struct KeyshelfSettings final : kestrel::garp_wol::Settings
{
    long get(const char* section, const char* key, long fallback) override
    {
        return get_ini_long(section, key, fallback);
    }
    int set(const char* section, const char* key, long value) override
    {
        return set_ini_long(section, key, value);
    }
};

} // namespace

/** Exported but not registered: no NetFn/command reaches it. */
extern "C" KESTREL_EXPORT ipmi_ret_t ipmiGarp(ipmi_netfn_t, ipmi_cmd_t,
                                              ipmi_request_t request,
                                              ipmi_response_t response,
                                              ipmi_data_len_t dataLen,
                                              ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::garp_wol::garp, KeyshelfSettings{});
}

ipmi::RspType<std::vector<uint8_t>> ipmiWakeOnLan(ipmi::Context::ptr&,
                                                  std::vector<uint8_t> data)
{
    KeyshelfSettings settings;
    return kestrel::misc::typedAnswer(
        kestrel::garp_wol::wakeOnLan(data, settings));
}
