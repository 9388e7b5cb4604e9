#include "peer.hpp"

#include <cstring>
#include <future>
#include <stdexcept>

namespace kestrel::test
{

Peer::Peer()
{
    std::promise<void> ready;
    auto started = ready.get_future();
    thread = std::thread([this, &ready]() {
        sd_bus* bus = nullptr;
        int r = sd_bus_open_system(&bus);
        sd_bus_slot* slot = nullptr;
        if (r >= 0)
        {
            r = sd_bus_add_object(bus, &slot, peerPath, &Peer::onMessage, this);
        }
        if (r >= 0)
        {
            r = sd_bus_request_name(bus, peerName, 0);
        }
        if (r < 0)
        {
            ready.set_exception(std::make_exception_ptr(std::runtime_error(
                std::string("peer setup failed: ") + std::strerror(-r))));
            sd_bus_flush_close_unref(bus);
            return;
        }
        ready.set_value();
        serve(bus);
        sd_bus_slot_unref(slot);
        sd_bus_flush_close_unref(bus);
    });
    try
    {
        started.get();
    }
    catch (...)
    {
        thread.join();
        throw;
    }
}

Peer::~Peer()
{
    stop = true;
    thread.join();
}

void Peer::serve(sd_bus* bus)
{
    while (!stop)
    {
        int r = sd_bus_process(bus, nullptr);
        if (r < 0)
        {
            return;
        }
        if (r == 0)
        {
            // Short waits so the destructor's stop request is seen soon.
            sd_bus_wait(bus, 50'000);
        }
    }
}

std::vector<Peer::Call> Peer::calls()
{
    std::lock_guard guard(lock);
    return received;
}

int Peer::onMessage(sd_bus_message* m, void* userdata, sd_bus_error*)
{
    return static_cast<Peer*>(userdata)->handle(m);
}

namespace
{

int replyEcho(sd_bus_message* m)
{
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_return(m, &reply);
    if (r >= 0)
    {
        r = sd_bus_message_copy(reply, m, 1);
    }
    if (r >= 0)
    {
        r = sd_bus_send(nullptr, reply, nullptr);
    }
    sd_bus_message_unref(reply);
    return r < 0 ? r : 1;
}

int replyProperty(sd_bus_message* m)
{
    const char* interface = nullptr;
    const char* name = nullptr;
    int r = sd_bus_message_read(m, "ss", &interface, &name);
    if (r < 0)
    {
        return r;
    }
    if (std::strcmp(name, "Count") == 0)
    {
        return sd_bus_reply_method_return(m, "v", "u", 7u);
    }
    if (std::strcmp(name, "Name") == 0)
    {
        return sd_bus_reply_method_return(m, "v", "s", "kestrel");
    }
    return sd_bus_reply_method_errorf(m, SD_BUS_ERROR_UNKNOWN_PROPERTY,
                                      "no property %s", name);
}

} // namespace

int Peer::handle(sd_bus_message* m)
{
    if (!sd_bus_message_is_method_call(m, nullptr, nullptr))
    {
        return 0;
    }
    const char* member = sd_bus_message_get_member(m);
    {
        std::lock_guard guard(lock);
        received.push_back({member, sd_bus_message_get_signature(m, 1)});
    }

    if (sd_bus_message_is_method_call(m, "org.freedesktop.DBus.Properties",
                                      "Get"))
    {
        return replyProperty(m);
    }
    if (std::strcmp(member, "Echo") == 0)
    {
        return replyEcho(m);
    }
    if (std::strcmp(member, "Fail") == 0)
    {
        return sd_bus_reply_method_errorf(m, peerErrorName, "%s",
                                          peerErrorMessage);
    }
    if (std::strcmp(member, "Ignore") == 0)
    {
        return 1;
    }
    if (std::strcmp(member, "PingThenEcho") == 0)
    {
        sd_bus_message* signal = nullptr;
        int r = sd_bus_message_new_signal(sd_bus_message_get_bus(m), &signal,
                                          peerPath, peerInterface, peerSignal);
        if (r >= 0)
        {
            r = sd_bus_message_copy(signal, m, 1);
        }
        if (r >= 0)
        {
            r = sd_bus_send(nullptr, signal, nullptr);
        }
        sd_bus_message_unref(signal);
        if (r < 0)
        {
            return r;
        }
        sd_bus_message_rewind(m, 1);
        return replyEcho(m);
    }
    return 0;
}

} // namespace kestrel::test
