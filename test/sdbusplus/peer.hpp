#pragma once

// A D-Bus peer for the binding tests, written on raw sd-bus so the tests do
// not check the bindings against themselves.  It runs its own connection to
// the system bus in a thread of its own and owns the name peerName.

#include <systemd/sd-bus.h>

#include <atomic>
#include <thread>

namespace kestrel::test
{

inline constexpr auto peerName = "org.kestrel.test.Peer";
inline constexpr auto peerPath = "/org/kestrel/test/peer";
inline constexpr auto peerInterface = "org.kestrel.test.Peer";
inline constexpr auto peerSignal = "Ping";

/** Methods on peerPath (any interface):
 *   Echo           replies with the call's own arguments
 *   Ignore         never replies
 *   PingThenEcho   sends the signal peerInterface.Ping (with the call's
 *                  arguments), then replies as Echo */
class Peer
{
  public:
    Peer();
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

  private:
    std::atomic<bool> stop{false};
    std::thread thread;

    static int handle(sd_bus_message* m, void* userdata, sd_bus_error* error);
};

} // namespace kestrel::test
