#pragma once

#define ALLOW_DEPRECATED_API 1

#include <ipmid/api.h>

#include <boost/asio/io_context.hpp>
#include <ipmid/api-types.hpp>
#include <ipmid/handler.hpp>
#include <ipmid/message.hpp>
#include <ipmid/types.hpp>
#include <memory>
#include <sdbusplus/asio/connection.hpp>
#include <sdbusplus/asio/object_server.hpp>

// The daemon's I/O context and bus connection, set before providers load.
std::shared_ptr<boost::asio::io_context> getIoContext();
std::shared_ptr<sdbusplus::asio::connection> getSdBus();
