#include "peer.hpp"

#include <cstring>
#include <future>
#include <stdexcept>
#include <string>

namespace kestrel::test
{

Peer::Peer()
{
    std::promise<void> ready;
    auto started = ready.get_future();
    thread = std::thread([this, &ready]() {
        sd_bus* bus = nullptr;
        sd_bus_slot* slot = nullptr;
        int r = sd_bus_open_system(&bus);
        if (r >= 0)
        {
            r = sd_bus_add_object(bus, &slot, peerPath, &Peer::handle, this);
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
        while (!stop && (r = sd_bus_process(bus, nullptr)) >= 0)
        {
            if (r == 0)
            {
                // Short waits so the destructor's stop request is seen soon.
                sd_bus_wait(bus, 50'000);
            }
        }
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

namespace
{

// Sends `out` with the arguments of `m`.
int sendCopy(sd_bus_message* out, sd_bus_message* m)
{
    int r = sd_bus_message_copy(out, m, 1);
    if (r >= 0)
    {
        r = sd_bus_send(nullptr, out, nullptr);
    }
    sd_bus_message_unref(out);
    return r < 0 ? r : 1;
}

} // namespace

int Peer::handle(sd_bus_message* m, void*, sd_bus_error*)
{
    if (!sd_bus_message_is_method_call(m, nullptr, nullptr))
    {
        return 0;
    }
    const char* member = sd_bus_message_get_member(m);
    if (std::strcmp(member, "Ignore") == 0)
    {
        return 1;
    }
    sd_bus_message* out = nullptr;
    if (std::strcmp(member, "PingThenEcho") == 0)
    {
        int r = sd_bus_message_new_signal(sd_bus_message_get_bus(m), &out,
                                          peerPath, peerInterface, peerSignal);
        if (r < 0 || (r = sendCopy(out, m)) < 0)
        {
            return r;
        }
        sd_bus_message_rewind(m, 1);
    }
    else if (std::strcmp(member, "Echo") != 0)
    {
        return 0;
    }
    int r = sd_bus_message_new_method_return(m, &out);
    return r < 0 ? r : sendCopy(out, m);
}

} // namespace kestrel::test
