#pragma once

// A D-Bus peer for the binding tests, written on raw sd-bus so the tests do
// not check the bindings against themselves.  It owns the name peerName on
// a connection of its own to the system bus, served by a thread of its own.
// Methods on peerPath (any interface): Ignore never replies; PingThenEcho
// sends the signal peerInterface.Ping with the call's arguments, then
// replies as any other method does: with the call's own arguments.

#include <systemd/sd-bus.h>

#include <atomic>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace kestrel::test
{

inline constexpr auto peerName = "org.kestrel.test.Peer";
inline constexpr auto peerPath = "/org/kestrel/test/peer";
inline constexpr auto peerInterface = "org.kestrel.test.Peer";
inline constexpr auto peerSignal = "Ping";

class Peer
{
  public:
    Peer()
    {
        if (sd_bus_open_system(&bus) < 0 ||
            sd_bus_add_object(bus, nullptr, peerPath, handle, nullptr) < 0 ||
            sd_bus_request_name(bus, peerName, 0) < 0)
        {
            sd_bus_flush_close_unref(bus);
            throw std::runtime_error("peer setup failed");
        }
        // From here on only the thread touches the connection.
        thread = std::thread([this] {
            for (int r = 0; !stop && r >= 0; r = sd_bus_process(bus, nullptr))
            {
                if (r == 0) // short waits, so that stop is seen soon
                {
                    sd_bus_wait(bus, 50'000);
                }
            }
        });
    }
    ~Peer()
    {
        stop = true;
        thread.join();
        sd_bus_flush_close_unref(bus);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

  private:
    sd_bus* bus = nullptr;
    std::atomic<bool> stop{false};
    std::thread thread;

    // Sends `out` with the arguments of `m`.
    static int sendCopy(sd_bus_message* out, sd_bus_message* m)
    {
        int r = sd_bus_message_copy(out, m, 1);
        r = r < 0 ? r : sd_bus_send(nullptr, out, nullptr);
        sd_bus_message_unref(out);
        return r < 0 ? r : 1;
    }

    static int handle(sd_bus_message* m, void*, sd_bus_error*)
    {
        std::string_view member = sd_bus_message_get_member(m);
        sd_bus_message* out = nullptr;
        if (member == "Ignore")
        {
            return 1;
        }
        if (member == "PingThenEcho")
        {
            int r =
                sd_bus_message_new_signal(sd_bus_message_get_bus(m), &out,
                                          peerPath, peerInterface, peerSignal);
            if (r < 0 || (r = sendCopy(out, m)) < 0)
            {
                return r;
            }
            sd_bus_message_rewind(m, 1);
        }
        int r = sd_bus_message_new_method_return(m, &out);
        return r < 0 ? r : sendCopy(out, m);
    }
};

} // namespace kestrel::test
