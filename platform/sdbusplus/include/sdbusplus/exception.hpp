// Exceptions raised by the bindings: SdBusError wraps an sd_bus_error (from
// an errno or from a failed call) and is what every failing bus operation
// throws.
#pragma once

#include <systemd/sd-bus.h>

#include <exception>
#include <string>
#include <string_view>

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

    /** Fills `error` with this exception's name and description; returns
     *  the negative errno, ready to be returned from an sd-bus callback. */
    virtual int set_error(sd_bus_error* error) const;
};

/** Base of the bindings' own errors (as opposed to generated ones). */
struct internal_exception : public exception
{
};

/** Base of errors generated from interface definitions: they all map to
 *  EIO. */
struct generated_exception : public exception
{
    int get_errno() const noexcept override;
};

class SdBusError final : public internal_exception
{
  public:
    /** From an errno (negative values count as positive); 0 is not an
     *  error and throws std::runtime_error. */
    SdBusError(int error, const char* prefix);
    SdBusError(int error, std::string&& prefix);
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

/** A string that names no value of the enumeration it was converted to. */
struct InvalidEnumString final : public internal_exception
{
    static constexpr auto errName =
        "xyz.openbmc_project.sdbusplus.Error.InvalidEnumString";
    static constexpr auto errDesc =
        "An enumeration mapping was attempted for which no valid enumeration "
        "value exists.";
    static constexpr auto errWhat =
        "xyz.openbmc_project.sdbusplus.Error.InvalidEnumString: An "
        "enumeration mapping was attempted for which no valid enumeration "
        "value exists.";

    const char* name() const noexcept override;
    const char* description() const noexcept override;
    const char* what() const noexcept override;
    int get_errno() const noexcept override;
};

/** A property that a caller required was absent or had another type. */
class UnpackPropertyError final : public internal_exception
{
  public:
    UnpackPropertyError(std::string_view propertyName, std::string_view reason);

    static constexpr auto errName =
        "xyz.openbmc_project.sdbusplus.Error.UnpackPropertyError";
    static constexpr auto errDesc =
        "An error occurred during unpacking of a property.";
    static constexpr auto reasonMissingProperty = "Missing property";
    static constexpr auto reasonTypeNotMatched = "Type not matched";

    const char* name() const noexcept override;
    const char* description() const noexcept override;
    const char* what() const noexcept override;
    int get_errno() const noexcept override;

    std::string propertyName;
    std::string reason;

  private:
    std::string errWhatDetailed;
};

} // namespace exception

using exception_t = exception::exception;
using internal_exception_t = exception::internal_exception;

} // namespace sdbusplus
