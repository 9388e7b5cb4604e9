// SSH control: the typed handlers and the `SSH` property through the request
// context's connection.
#include "ssh_login.hpp"

#include "commands.hpp"
#include "dbus_names.hpp"
#include "dbus_ops.hpp"
#include "kestrel.hpp"

#include <cstdint>
#include <ipmid/api.hpp>
#include <ipmid/utils.hpp>
#include <optional>
#include <string>

namespace
{

constexpr auto sshProperty = "SSH";

/** Reads and writes `SSH` asynchronously on the context's connection; the
 *  handler's coroutine waits for each reply. */
struct ContextSshSetting final : kestrel::ssh_login::SshSetting
{
    explicit ContextSshSetting(ipmi::Context::ptr& ctx) : ctx(ctx)
    {
    }

    std::optional<bool> allowed(const std::string& interfacePath) override
    {
        using namespace kestrel::dbus;
        bool value = false;
        if (getDbusProperty(ctx, networkService, interfacePath,
                            ethernetInterface, sshProperty, value))
        {
            return std::nullopt;
        }
        return value;
    }

    bool setAllowed(const std::string& interfacePath, bool allowed) override
    {
        using namespace kestrel::dbus;
        return !ipmi::setDbusProperty(ctx, networkService, interfacePath,
                                      ethernetInterface, sshProperty,
                                      ipmi::Value(allowed));
    }

    ipmi::Context::ptr& ctx;
};

} // namespace

KESTREL_EXPORT ipmi::RspType<>
    ipmiSshControlSet(ipmi::Context::ptr& ctx, uint8_t interface, uint8_t state)
{
    ContextSshSetting setting(ctx);
    auto answer = kestrel::ssh_login::sshControlSet(interface, state, setting);
    return ipmi::response(answer.cc);
}

KESTREL_EXPORT ipmi::RspType<uint8_t> ipmiSshControlGet(ipmi::Context::ptr& ctx,
                                                        uint8_t interface)
{
    ContextSshSetting setting(ctx);
    auto answer = kestrel::ssh_login::sshControlGet(interface, setting);
    if (answer.cc != ipmi::ccSuccess)
    {
        return ipmi::response(answer.cc);
    }
    return ipmi::responseSuccess(answer.data.at(0));
}

extern "C" {

KESTREL_EXPORT void register_netfn_oem_ssh_login()
    __attribute__((constructor(KESTREL_CTOR_SSH_LOGIN)));

void register_netfn_oem_ssh_login()
{
    using namespace kestrel::cmd;
    ipmi::registerHandler(ipmi::prioOpenBmcBase, netFnKestrel, sshControlSet,
                          ipmi::Privilege::Admin, ipmiSshControlSet);
    ipmi::registerHandler(ipmi::prioOpenBmcBase, netFnKestrel, sshControlGet,
                          ipmi::Privilege::Admin, ipmiSshControlGet);
}

} // extern "C"
