// Exceptions raised by the bindings: SdBusError wraps an sd_bus_error (from
// an errno or from a failed call) and is what every failing bus operation
// throws.
#pragma once

#include <systemd/sd-bus.h>

#include <exception>
#include <string>

namespace sdbusplus
{
namespace exception
{

/** Base of everything the bindings throw on behalf of D-Bus: a D-Bus error
 *  name, a human-readable description and the errno it maps to. */
struct exception : public std::exception
{
    virtual const char* name() const noexcept = 0;
    virtual const char* description() const noexcept = 0;
    virtual int get_errno() const noexcept = 0;
};

/** Base of the bindings' own errors (as opposed to generated ones). */
struct internal_exception : public exception
{
};

class SdBusError final : public internal_exception
{
  public:
    /** From an errno (negative values count as positive); 0 is not an
     *  error and throws std::runtime_error. */
    SdBusError(int error, const char* prefix);
    /** Takes ownership of `error` and leaves the caller's struct empty. */
    SdBusError(sd_bus_error* error, const char* prefix);

    SdBusError(const SdBusError&) = delete;
    SdBusError& operator=(const SdBusError&) = delete;
    SdBusError(SdBusError&& other) noexcept;
    SdBusError& operator=(SdBusError&& other) noexcept;
    ~SdBusError() override;

    const char* name() const noexcept override;
    const char* description() const noexcept override;
    /** "<prefix>: <name>: <message>", leaving out the parts that are
     *  missing. */
    const char* what() const noexcept override;
    int get_errno() const noexcept override;
    const sd_bus_error* get_error() const noexcept;

  private:
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::string full_message;

    void populateMessage(const char* prefix);
};

} // namespace exception
} // namespace sdbusplus
