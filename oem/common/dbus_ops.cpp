#include "dbus_ops.hpp"

#include <iostream>
#include <sdbusplus/asio/connection.hpp>
#include <sdbusplus/message.hpp>

namespace kestrel::dbus
{
namespace
{

// Reads the single variant of a Properties.Get reply as T.  The monostate
// alternative catches a value of any other type, so std::get reports it
// (std::bad_variant_access) instead of a silent default value.
template <typename T>
T getProperty(const std::string& service, const std::string& path,
              const char* interface, const char* property)
{
    auto bus = sdbusplus::bus::new_default();
    auto call = bus.new_method_call(service.c_str(), path.c_str(),
                                    propertiesInterface, "Get");
    call.append(interface, property);
    auto reply = bus.call(call);
    std::variant<std::monostate, T> value;
    reply.read(value);
    return std::get<T>(value);
}

} // namespace

void setPropertyNoReply(const std::string& service, const std::string& path,
                        const std::string& interface,
                        const std::string& property, const PropertyValue& value)
{
    callMethodNoReply(service, path, propertiesInterface, "Set", interface,
                      property, value);
}

void startStopUnit(const std::string& unitPath, const std::string& member)
{
    callMethodNoReply(systemdService, unitPath, systemdUnit, member, jobMode);
}

std::string getUnitActiveState(const std::string& unitPath)
{
    return getProperty<std::string>(systemdService, unitPath, systemdUnit,
                                    "ActiveState");
}

void setLedGroupAsserted(const std::string& groupPath, bool asserted)
{
    setPropertyNoReply(ledService, groupPath, ledInterface, "Asserted",
                       asserted);
}

bool getLedGroupAsserted(const std::string& groupPath)
{
    return getProperty<bool>(ledService, groupPath, ledInterface, "Asserted");
}

boost::system::error_code
    getDbusProperty(ipmi::Context::ptr ctx, const std::string& service,
                    const std::string& path, const std::string& interface,
                    const std::string& property, bool& value)
{
    boost::system::error_code ec;
    auto reply =
        ctx->bus->yield_method_call<std::variant<std::monostate, bool>>(
            ctx->yield, ec, service, path, propertiesInterface, "Get",
            interface, property);
    if (ec)
    {
        return ec;
    }
    const bool* held = std::get_if<bool>(&reply);
    if (held == nullptr)
    {
        return boost::system::errc::make_error_code(
            boost::system::errc::invalid_argument);
    }
    value = *held;
    return ec;
}

} // namespace kestrel::dbus

namespace ipmi
{

boost::system::error_code
    performSystemdMethod(std::shared_ptr<ipmi::Context>& ctx,
                         const std::string& unit, const std::string& method)
{
    using namespace kestrel::dbus;
    boost::system::error_code ec;
    ctx->bus->yield_method_call(ctx->yield, ec, systemdService, systemdObject,
                                systemdManager, method, unit, jobMode);
    if (ec)
    {
        std::cout << "Failed to perform systemd method: " << ec.message()
                  << std::endl;
    }
    return ec;
}

boost::system::error_code
    performSystemdDaemonReload(std::shared_ptr<ipmi::Context>& ctx)
{
    using namespace kestrel::dbus;
    boost::system::error_code ec;
    ctx->bus->yield_method_call(ctx->yield, ec, systemdService, systemdObject,
                                systemdManager, "Reload");
    if (ec)
    {
        std::cerr << "Failed to perform systemd daemon-reload: " << ec.message()
                  << std::endl;
    }
    return ec;
}

} // namespace ipmi
