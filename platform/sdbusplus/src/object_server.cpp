#include <linux/capability.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <sdbusplus/asio/object_server.hpp>

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

} // namespace details

struct dbus_interface::method_entry
{
    std::string name;
    std::string signature;
    std::string result;
    std::function<void(message_t&)> call;
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
    sd_bus_slot_unref(left_slot_);
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

bool dbus_interface::initialize()
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
        // sd-bus would ask the bus daemon who the caller is on every call;
        // on_method makes the same check once per caller instead.
        vtable_.push_back(SD_BUS_METHOD(m->name.c_str(), m->signature.c_str(),
                                        m->result.c_str(), &on_method,
                                        SD_BUS_VTABLE_UNPRIVILEGED));
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

    // The announcement fails harmlessly when nothing manages this object.
    char* names[] = {name_.data(), nullptr};
    sd_bus_emit_interfaces_added_strv(conn_->get(), path_.c_str(), names);
    return true;
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
    int r = self->check_caller(m);
    if (r < 0)
    {
        return r;
    }
    if (r == 0)
    {
        return sd_bus_error_setf(error, SD_BUS_ERROR_ACCESS_DENIED,
                                 "Access to %s.%s() not permitted.",
                                 self->name_.c_str(), call.get_member());
    }
    entry->call(call);
    return 1;
}

int dbus_interface::check_caller(sd_bus_message* m) noexcept
{
    // What sd-bus checks for a method without SD_BUS_VTABLE_UNPRIVILEGED.
    if (sd_bus_is_trusted(conn_->get()) > 0)
    {
        return 1;
    }
    const char* sender = sd_bus_message_get_sender(m);
    try
    {
        if (sender != nullptr && known_callers_.contains(sender))
        {
            return 1;
        }
        int r = sd_bus_query_sender_privilege(m, CAP_SYS_ADMIN);
        if (r <= 0 || sender == nullptr || sender[0] != ':')
        {
            return r;
        }
        // Remember the caller only while leaving callers can be forgotten.
        if (left_slot_ == nullptr &&
            sd_bus_match_signal_async(
                conn_->get(), &left_slot_, "org.freedesktop.DBus",
                "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "NameOwnerChanged", &on_name_owner_changed, nullptr, this) < 0)
        {
            left_slot_ = nullptr;
            return r;
        }
        known_callers_.insert(sender);
        return r;
    }
    catch (const std::bad_alloc&)
    {
        return -ENOMEM;
    }
}

int dbus_interface::on_name_owner_changed(sd_bus_message* m, void* userdata,
                                          sd_bus_error*) noexcept
{
    const char* name = nullptr;
    const char* from = nullptr;
    const char* to = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &from, &to) >= 0 && to[0] == '\0')
    {
        static_cast<dbus_interface*>(userdata)->known_callers_.erase(name);
    }
    return 0;
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
    object_server::add_interface(const std::string& path,
                                 const std::string& name)
{
    auto iface = std::make_shared<dbus_interface>(conn_, path, name);
    interfaces_.push_back(iface);
    return iface;
}

void object_server::add_manager(const std::string& path)
{
    managers_.emplace_back(*conn_, path.c_str());
}

} // namespace sdbusplus::asio
