#pragma once

// A D-Bus peer for the binding tests, written on raw sd-bus so the tests do
// not check the bindings against themselves.  It runs its own connection to
// the system bus in a thread of its own and owns the name peerName.

#include <systemd/sd-bus.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::test
{

inline constexpr auto peerName = "org.kestrel.test.Peer";
inline constexpr auto peerPath = "/org/kestrel/test/peer";
inline constexpr auto peerInterface = "org.kestrel.test.Peer";
inline constexpr auto peerSignal = "Ping";
inline constexpr auto peerErrorName = "org.kestrel.test.Error.Boom";
inline constexpr auto peerErrorMessage = "boom happened";

/** Methods on peerPath (any interface):
 *   Echo           replies with the call's own arguments
 *   Fail           replies the error peerErrorName / peerErrorMessage
 *   Ignore         never replies
 *   PingThenEcho   sends the signal peerInterface.Ping (with the call's
 *                  arguments), then replies as Echo
 *  and org.freedesktop.DBus.Properties.Get on interface peerInterface:
 *   Count = u 7, Name = s "kestrel". */
class Peer
{
  public:
    Peer();
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    struct Call
    {
        std::string member;
        std::string signature;
    };
    /** The calls received so far, in order. */
    std::vector<Call> calls();

  private:
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::vector<Call> received;
    std::thread thread;

    void serve(sd_bus* bus);
    static int onMessage(sd_bus_message* m, void* userdata,
                         sd_bus_error* error);
    int handle(sd_bus_message* m);
};

} // namespace kestrel::test
