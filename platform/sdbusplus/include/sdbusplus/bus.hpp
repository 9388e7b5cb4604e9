// A connection to a D-Bus bus: blocking method calls, signals, names and
// the raw event-loop hooks (fd, process, wait).
#pragma once

#include <sdbusplus/exception.hpp>
#include <sdbusplus/message.hpp>

#include <systemd/sd-bus.h>

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace sdbusplus
{
namespace bus
{

/** A bus connection.  Move-only; a connection opened privately (new_bus(),
 *  new_system(), new_user()) is flushed and closed when its last owner goes
 *  away, a shared default connection is only released. */
struct bus
{
    /** Takes a reference of its own on `b`. */
    explicit bus(sd_bus* b);
    /** Adopts the caller's reference on `b`. */
    bus(sd_bus* b, std::false_type);

    bus(const bus&) = delete;
    bus& operator=(const bus&) = delete;
    bus(bus&& other) noexcept;
    bus& operator=(bus&& other) noexcept;
    virtual ~bus();

    /** Throws SdBusError(-r, "sd_bus_message_new_method_call") for an
     *  invalid service, path, interface or member. */
    message_t new_method_call(const char* service, const char* objpath,
                              const char* interf, const char* method);

    message_t new_signal(const char* objpath, const char* interf,
                         const char* member);

    /** Sends `m` and waits for the reply.  Throws SdBusError with prefix
     *  "sd_bus_call" for an error reply, a timeout or a send failure, so a
     *  returned reply is always a method return.  A timeout of 0 or none
     *  means sd-bus's default (25 s). */
    message_t call(message_t& m, uint64_t timeout_us);
    message_t call(message_t& m,
                   std::optional<SdBusDuration> timeout = std::nullopt);

    /** As call(), dropping the reply; failures carry the prefix
     *  "sd_bus_call noreply". */
    void call_noreply(message_t& m, uint64_t timeout_us);
    void call_noreply(message_t& m,
                      std::optional<SdBusDuration> timeout = std::nullopt);

    /** As call_noreply(), ignoring failures. */
    void call_noreply_noerror(message_t& m, uint64_t timeout_us);
    void
    call_noreply_noerror(message_t& m,
                         std::optional<SdBusDuration> timeout = std::nullopt);

    /** Requests a well-known name, allowing replacement and replacing an
     *  existing owner that allows it. */
    void request_name(const char* service);

    std::string get_unique_name();

    /** Processes one pending message; the result is it, if nobody handled
     *  it. */
    message_t process();
    /** Processes one pending message; true when there was one. */
    bool process_discard();
    /** Processes and waits, forever. */
    void process_loop();

    void wait(uint64_t timeout_us);
    void wait(std::optional<SdBusDuration> timeout = std::nullopt);

    void flush();
    void close();

    int get_fd();
    int get_events();
    uint64_t get_timeout();

    void attach_event(sd_event* event, int priority);
    void detach_event();

    void emit_interfaces_added(const char* path,
                               const std::vector<std::string>& ifaces);
    void emit_interfaces_removed(const char* path,
                                 const std::vector<std::string>& ifaces);
    void emit_object_added(const char* path);
    void emit_object_removed(const char* path);

    /** Whether destruction flushes and closes the connection. */
    void set_should_close(bool shouldClose) noexcept
    {
        _shouldClose = shouldClose;
    }

    sd_bus* get() const noexcept
    {
        return _bus;
    }

    /** Gives up this handle's reference and returns the raw bus. */
    sd_bus* release() noexcept;

  private:
    sd_bus* _bus = nullptr;
    bool _shouldClose = false;

    void reset() noexcept;
};

/** The thread's shared default connection: the system bus for root or a
 *  system service, otherwise the user bus. */
bus new_default();
/** The thread's shared system bus connection. */
bus new_default_system();
/** The thread's shared user bus connection. */
bus new_default_user();
/** A private connection to the default bus. */
bus new_bus();
/** A private connection to the system bus. */
bus new_system();
/** A private connection to the user bus. */
bus new_user();

} // namespace bus

using bus_t = bus::bus;

namespace message
{
inline bus::bus message::get_bus() const
{
    return bus::bus(sd_bus_message_get_bus(_msg));
}
} // namespace message

} // namespace sdbusplus
