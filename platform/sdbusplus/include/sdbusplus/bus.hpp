// A connection to a D-Bus bus: blocking method calls and the well-known
// name; the raw sd_bus is there for everything else.
#pragma once

#include <systemd/sd-bus.h>

#include <optional>
#include <sdbusplus/exception.hpp>
#include <sdbusplus/message.hpp>
#include <string>
#include <type_traits>

namespace sdbusplus
{
namespace bus
{

/** A bus connection.  Move-only; a connection opened privately
 *  (new_system()) is flushed and closed when its last owner goes away, a
 *  shared default connection is only released. */
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
     *  invalid service, path, interface or method. */
    message_t new_method_call(const char* service, const char* objpath,
                              const char* interf, const char* method);

    /** Sends `m` and waits for the reply.  Throws SdBusError with prefix
     *  "sd_bus_call" for an error reply, a timeout or a send failure, so a
     *  returned reply is always a method return.  No timeout means
     *  sd-bus's default (25 s). */
    message_t call(message_t& m,
                   std::optional<SdBusDuration> timeout = std::nullopt);

    /** As call(), dropping the reply; failures carry the prefix
     *  "sd_bus_call noreply". */
    void call_noreply(message_t& m,
                      std::optional<SdBusDuration> timeout = std::nullopt);

    /** Requests a well-known name, allowing replacement and replacing an
     *  existing owner that allows it. */
    void request_name(const char* service);

    std::string get_unique_name();

    int get_fd();

    /** Whether destruction flushes and closes the connection. */
    void set_should_close(bool shouldClose) noexcept
    {
        _shouldClose = shouldClose;
    }

    sd_bus* get() const noexcept
    {
        return _bus;
    }

  private:
    sd_bus* _bus = nullptr;
    bool _shouldClose = false;

    void reset() noexcept;
};

/** The thread's shared default connection: the system bus for root or a
 *  system service, otherwise the user bus. */
bus new_default();
/** A private connection to the system bus. */
bus new_system();

} // namespace bus

using bus_t = bus::bus;

} // namespace sdbusplus
