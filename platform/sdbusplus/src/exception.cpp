#include <sdbusplus/exception.hpp>
#include <stdexcept>
#include <utility>

namespace sdbusplus::exception
{

SdBusError::SdBusError(int error, const char* prefix)
{
    // sd_bus_error_set_errno() takes the absolute value and answers 0 for
    // errno 0, in which case nothing was set.
    if (sd_bus_error_set_errno(&this->error, error) == 0 ||
        !sd_bus_error_is_set(&this->error))
    {
        sd_bus_error_free(&this->error);
        throw std::runtime_error("Failed to create SdBusError");
    }
    populateMessage(prefix);
}

SdBusError::SdBusError(sd_bus_error* error, const char* prefix) : error(*error)
{
    *error = SD_BUS_ERROR_NULL;
    populateMessage(prefix);
}

SdBusError::SdBusError(SdBusError&& other) noexcept :
    error(other.error), full_message(std::move(other.full_message))
{
    other.error = SD_BUS_ERROR_NULL;
}

SdBusError& SdBusError::operator=(SdBusError&& other) noexcept
{
    if (this != &other)
    {
        sd_bus_error_free(&error);
        error = other.error;
        other.error = SD_BUS_ERROR_NULL;
        full_message = std::move(other.full_message);
    }
    return *this;
}

SdBusError::~SdBusError()
{
    sd_bus_error_free(&error);
}

const char* SdBusError::name() const noexcept
{
    return error.name;
}

const char* SdBusError::description() const noexcept
{
    return error.message;
}

const char* SdBusError::what() const noexcept
{
    return full_message.c_str();
}

int SdBusError::get_errno() const noexcept
{
    return sd_bus_error_get_errno(&error);
}

const sd_bus_error* SdBusError::get_error() const noexcept
{
    return &error;
}

void SdBusError::populateMessage(const char* prefix)
{
    full_message = prefix != nullptr ? prefix : "";
    for (const char* part : {error.name, error.message})
    {
        if (part == nullptr)
        {
            continue;
        }
        if (!full_message.empty())
        {
            full_message += ": ";
        }
        full_message += part;
    }
}

} // namespace sdbusplus::exception
