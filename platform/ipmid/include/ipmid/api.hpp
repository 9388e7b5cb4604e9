#pragma once

#define ALLOW_DEPRECATED_API 1

#include <ipmid/api-types.hpp>
#include <ipmid/api.h>
#include <ipmid/handler.hpp>
#include <ipmid/message.hpp>
#include <ipmid/types.hpp>
