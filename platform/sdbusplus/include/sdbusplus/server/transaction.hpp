// The transaction id that ties together the log entries written while one
// D-Bus request is handled.  It is per thread.
#pragma once

#include <sdbusplus/message.hpp>

#include <cstdint>

namespace sdbusplus
{
namespace server
{
namespace transaction
{

/** The current id; when none was set, a fresh one made from the time and
 *  the thread. */
uint64_t get_id();

void set_id(uint64_t value);

/** Sets the id from the message being handled (its bus and cookie). */
void set_id(message_t& msg);

} // namespace transaction
} // namespace server
} // namespace sdbusplus
