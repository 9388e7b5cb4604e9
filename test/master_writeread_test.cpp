// I2C master write-read through the dispatcher, to the libsmbridge double.
#include "provider.hpp"

#include <dlfcn.h>

#include <string>

#include "smbridge_double.h"

#include <gtest/gtest.h>

using namespace kestrel::test;

TEST(MasterWriteRead, RequestsReachTheBusLibrary)
{
    // Loaded first, the double is the libsmbridge.so.0 the provider gets.
    void* bridge = ::dlopen(SMBRIDGE_DOUBLE, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(bridge, nullptr) << ::dlerror();
    ASSERT_NE(kestrelProvider(), nullptr);
    auto calls = reinterpret_cast<decltype(&smbridge_double_calls)>(
        ::dlsym(bridge, "smbridge_double_calls"));
    auto reset = reinterpret_cast<decltype(&smbridge_double_reset)>(
        ::dlsym(bridge, "smbridge_double_reset"));
    // Each entry point of the library once.
    const std::tuple<Bytes, Bytes, std::string> rows[] = {
        {{3, 0xA0, 2, 0}, {0, 0xA0, 0xA1}, "xfer /dev/i2c-3 80 00 2\n"},
        {{12, 0x9E, 3}, {0, 0xA0, 0xA1, 0xA2}, "read /dev/i2c-12 79  3\n"},
        {{255, 0x40, 0, 0x11, 0x22}, {0}, "write /dev/i2c-255 32 1122 0\n"},
    };
    for (const auto& [request, answer, call] : rows)
    {
        reset();
        EXPECT_EQ(ask(0x52, request), answer);
        EXPECT_EQ(calls(), call);
    }
}
