// Everything a D-Bus server built on the plain bus needs.
#pragma once

#include <sdbusplus/bus.hpp>
#include <sdbusplus/bus/match.hpp>
#include <sdbusplus/message.hpp>
#include <sdbusplus/server/manager.hpp>
#include <sdbusplus/server/transaction.hpp>

namespace sdbusplus
{
namespace server
{
using match_t = sdbusplus::bus::match_t;
} // namespace server
} // namespace sdbusplus
