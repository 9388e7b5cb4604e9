#pragma once

#define ALLOW_DEPRECATED_API 1

#include <ipmid/api-types.hpp>
#include <ipmid/api.h>
#include <ipmid/handler.hpp>
#include <ipmid/message.hpp>
#include <ipmid/types.hpp>
#include <sdbusplus/asio/connection.hpp>
#include <sdbusplus/asio/object_server.hpp>

#include <boost/asio/io_context.hpp>

#include <memory>

// The daemon's I/O context and bus connection, set before providers load.
std::shared_ptr<boost::asio::io_context> getIoContext();
std::shared_ptr<sdbusplus::asio::connection> getSdBus();
