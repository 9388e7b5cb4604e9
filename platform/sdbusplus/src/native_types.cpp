// The out-of-line part of reading native values out of a message.
#include <cerrno>
#include <sdbusplus/exception.hpp>
#include <sdbusplus/message/read.hpp>

namespace sdbusplus::message::details
{

void throw_read_error(int r, const char* what)
{
    // Zero means "nothing there": report it like a value of the wrong type.
    throw exception::SdBusError(r < 0 ? -r : ENXIO, what);
}

} // namespace sdbusplus::message::details
