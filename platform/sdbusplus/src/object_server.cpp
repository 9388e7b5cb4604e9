#include <sdbusplus/asio/object_server.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sdbusplus::asio
{

namespace details
{

void reply_with_exception(message_t& call, std::exception_ptr error) noexcept
{
    sd_bus_error reply = SD_BUS_ERROR_NULL;
    try
    {
        std::rethrow_exception(error);
    }
    catch (const exception::SdBusError& e)
    {
        sd_bus_error_copy(&reply, e.get_error());
    }
    catch (const exception::exception& e)
    {
        sd_bus_error_set(&reply, e.name(), e.description());
    }
    catch (...)
    {
    }
    // An error without a name cannot be sent: fall back to EIO so the
    // caller always gets an answer.
    if (!sd_bus_error_is_set(&reply))
    {
        sd_bus_error_free(&reply);
        sd_bus_error_set_errno(&reply, EIO);
    }
    sd_bus_reply_method_error(call.get(), &reply);
    sd_bus_error_free(&reply);
}

void reply_empty(message_t& call)
{
    if (sd_bus_message_get_expect_reply(call.get()) <= 0)
    {
        return;
    }
    auto reply = call.new_method_return();
    reply.method_return();
}

namespace
{

// Fills an sd-bus callback's error from the exception being handled and
// returns the matching negative errno.
int fail_with_current_exception(sd_bus_error* error) noexcept
{
    try
    {
        throw;
    }
    catch (const exception::SdBusError& e)
    {
        sd_bus_error_copy(error, e.get_error());
    }
    catch (const exception::exception& e)
    {
        sd_bus_error_set(error, e.name(), e.description());
    }
    catch (...)
    {
    }
    if (!sd_bus_error_is_set(error))
    {
        return sd_bus_error_set_errno(error, EIO);
    }
    int err = sd_bus_error_get_errno(error);
    return err > 0 ? -err : -EIO;
}

} // namespace

} // namespace details

struct dbus_interface::method_entry
{
    std::string name;
    std::string signature;
    std::string result;
    std::function<void(message_t&)> call;
};

struct dbus_interface::property_entry
{
    std::string name;
    std::string signature;
    const std::type_info* type;
    std::shared_ptr<void> value;
    std::function<void(message_t&)> get;
    std::function<bool(message_t&)> set;
};

struct dbus_interface::signal_entry
{
    std::string name;
    std::string signature;
};

dbus_interface::dbus_interface(std::shared_ptr<connection> conn,
                               const std::string& path,
                               const std::string& name) :
    conn_(std::move(conn)),
    path_(path), name_(name)
{
}

dbus_interface::~dbus_interface()
{
    if (slot_ == nullptr)
    {
        return;
    }
    char* names[] = {name_.data(), nullptr};
    sd_bus_emit_interfaces_removed_strv(conn_->get(), path_.c_str(), names);
    sd_bus_slot_unref(slot_);
}

bool dbus_interface::add_method(const std::string& name, std::string signature,
                                std::string result,
                                std::function<void(message_t&)> call)
{
    if (initialized_ || find_method(name.c_str()))
    {
        return false;
    }
    methods_.push_back(std::make_shared<method_entry>(method_entry{
        name, std::move(signature), std::move(result), std::move(call)}));
    return true;
}

bool dbus_interface::add_property_entry(const std::string& name,
                                        std::string signature,
                                        const std::type_info* type,
                                        std::shared_ptr<void> value,
                                        std::function<void(message_t&)> get,
                                        std::function<bool(message_t&)> set)
{
    if (initialized_ || find_property(name.c_str()))
    {
        return false;
    }
    properties_.push_back(std::make_shared<property_entry>(
        property_entry{name, std::move(signature), type, std::move(value),
                       std::move(get), std::move(set)}));
    return true;
}

bool dbus_interface::add_signal(const std::string& name, std::string signature)
{
    if (initialized_)
    {
        return false;
    }
    signals_.push_back(std::make_unique<signal_entry>(
        signal_entry{name, std::move(signature)}));
    return true;
}

void* dbus_interface::find_property_value(const std::string& name,
                                          const std::type_info& type)
{
    auto entry = find_property(name.c_str());
    if (!entry || *entry->type != type)
    {
        return nullptr;
    }
    return entry->value.get();
}

std::shared_ptr<dbus_interface::method_entry>
dbus_interface::find_method(const char* member)
{
    if (member == nullptr)
    {
        return nullptr;
    }
    auto it =
        std::find_if(methods_.begin(), methods_.end(),
                     [member](const auto& m) { return m->name == member; });
    return it != methods_.end() ? *it : nullptr;
}

std::shared_ptr<dbus_interface::property_entry>
dbus_interface::find_property(const char* name)
{
    if (name == nullptr)
    {
        return nullptr;
    }
    auto it = std::find_if(properties_.begin(), properties_.end(),
                           [name](const auto& p) { return p->name == name; });
    return it != properties_.end() ? *it : nullptr;
}

bool dbus_interface::initialize(bool skipPropertyChangedSignal)
{
    if (initialized_)
    {
        return false;
    }

    // The strings the table points into live in the entries, which stay
    // put (they are heap-allocated) until this interface goes away.
    vtable_.clear();
    vtable_.push_back(SD_BUS_VTABLE_START(0));
    for (const auto& m : methods_)
    {
        vtable_.push_back(SD_BUS_METHOD(m->name.c_str(), m->signature.c_str(),
                                        m->result.c_str(), &on_method, 0));
    }
    for (const auto& p : properties_)
    {
        if (p->set)
        {
            vtable_.push_back(SD_BUS_WRITABLE_PROPERTY(
                p->name.c_str(), p->signature.c_str(), &on_get, &on_set, 0,
                SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE));
        }
        else
        {
            vtable_.push_back(
                SD_BUS_PROPERTY(p->name.c_str(), p->signature.c_str(), &on_get,
                                0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE));
        }
    }
    for (const auto& s : signals_)
    {
        vtable_.push_back(
            SD_BUS_SIGNAL(s->name.c_str(), s->signature.c_str(), 0));
    }
    vtable_.push_back(SD_BUS_VTABLE_END);

    int r = sd_bus_add_object_vtable(conn_->get(), &slot_, path_.c_str(),
                                     name_.c_str(), vtable_.data(), this);
    if (r < 0)
    {
        slot_ = nullptr;
        throw exception::SdBusError(-r, "sd_bus_add_object_vtable");
    }
    initialized_ = true;

    // Announcements fail harmlessly when nothing manages this object.
    char* names[] = {name_.data(), nullptr};
    sd_bus_emit_interfaces_added_strv(conn_->get(), path_.c_str(), names);
    if (!skipPropertyChangedSignal)
    {
        for (const auto& p : properties_)
        {
            signal_property(p->name);
        }
    }
    return true;
}

void dbus_interface::signal_property(const std::string& name)
{
    if (!initialized_)
    {
        return;
    }
    char* names[] = {const_cast<char*>(name.c_str()), nullptr};
    sd_bus_emit_properties_changed_strv(conn_->get(), path_.c_str(),
                                        name_.c_str(), names);
}

message_t dbus_interface::new_signal(const char* member)
{
    return conn_->new_signal(path_.c_str(), name_.c_str(), member);
}

int dbus_interface::on_method(sd_bus_message* m, void* userdata,
                              sd_bus_error* error) noexcept
{
    auto* self = static_cast<dbus_interface*>(userdata);
    message_t call(m);
    // A copy of the entry keeps the handler alive even if the handler
    // removes this interface.
    auto entry = self->find_method(call.get_member());
    if (!entry)
    {
        return sd_bus_error_set(error, SD_BUS_ERROR_UNKNOWN_METHOD,
                                "Unknown method");
    }
    entry->call(call);
    return 1;
}

int dbus_interface::on_get(sd_bus*, const char*, const char*,
                           const char* property, sd_bus_message* reply,
                           void* userdata, sd_bus_error* error) noexcept
{
    auto* self = static_cast<dbus_interface*>(userdata);
    auto entry = self->find_property(property);
    if (!entry)
    {
        return sd_bus_error_set(error, SD_BUS_ERROR_UNKNOWN_PROPERTY,
                                "Unknown property");
    }
    try
    {
        message_t m(reply);
        entry->get(m);
    }
    catch (...)
    {
        return details::fail_with_current_exception(error);
    }
    return 1;
}

int dbus_interface::on_set(sd_bus*, const char*, const char*,
                           const char* property, sd_bus_message* value,
                           void* userdata, sd_bus_error* error) noexcept
{
    auto* self = static_cast<dbus_interface*>(userdata);
    auto entry = self->find_property(property);
    if (!entry || !entry->set)
    {
        return sd_bus_error_set(error, SD_BUS_ERROR_PROPERTY_READ_ONLY,
                                "Property is read-only");
    }
    bool changed = false;
    try
    {
        message_t m(value);
        changed = entry->set(m);
    }
    catch (...)
    {
        return details::fail_with_current_exception(error);
    }
    if (changed)
    {
        self->signal_property(entry->name);
    }
    return 1;
}

object_server::object_server(const std::shared_ptr<connection>& conn,
                             bool skipManager) :
    conn_(conn)
{
    if (!skipManager)
    {
        add_manager("/");
    }
}

std::shared_ptr<dbus_interface>
object_server::add_interface(const std::string& path, const std::string& name)
{
    auto iface = std::make_shared<dbus_interface>(conn_, path, name);
    interfaces_.push_back(iface);
    return iface;
}

std::unique_ptr<dbus_interface>
object_server::add_unique_interface(const std::string& path,
                                    const std::string& name)
{
    return std::make_unique<dbus_interface>(conn_, path, name);
}

bool object_server::remove_interface(
    const std::shared_ptr<dbus_interface>& iface)
{
    auto it = std::find(interfaces_.begin(), interfaces_.end(), iface);
    if (it == interfaces_.end())
    {
        return false;
    }
    interfaces_.erase(it);
    return true;
}

void object_server::add_manager(const std::string& path)
{
    managers_.emplace_back(*conn_, path.c_str());
}

} // namespace sdbusplus::asio
