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
    ASSERT_EQ(::dlopen("libsmbridge.so.0", RTLD_NOW | RTLD_NOLOAD), bridge);
    auto calls = reinterpret_cast<std::size_t (*)(const SmbridgeCall**)>(
        ::dlsym(bridge, "smbridge_double_calls"));
    auto reset = reinterpret_cast<void (*)(int)>(
        ::dlsym(bridge, "smbridge_double_reset"));
    ASSERT_NE(calls, nullptr) << "the real libsmbridge was loaded";
    // Function (0 transfer, 1 write, 2 read), device, address, written, read.
    using Call = std::tuple<int, std::string, uint8_t, Bytes, uint32_t>;
    const std::tuple<Bytes, Bytes, Call> rows[] = {
        {{3, 0xA0, 2, 0}, {0, 0xA0, 0xA1}, {0, "/dev/i2c-3", 0x50, {0}, 2}},
        {{12, 0x9E, 3}, {0, 0xA0, 0xA1, 0xA2}, {2, "/dev/i2c-12", 0x4F, {}, 3}},
        {{255, 0x40, 0, 0x11, 0x22},
         {0},
         {1, "/dev/i2c-255", 0x20, {0x11, 0x22}, 0}},
    };
    const SmbridgeCall* c = nullptr;
    for (const auto& [request, answer, call] : rows)
    {
        reset(0);
        EXPECT_EQ(ask(0x52, request), answer);
        ASSERT_EQ(calls(&c), 1u);
        EXPECT_EQ(Call(c->function, c->device, c->address,
                       Bytes(c->writeData, c->writeData + c->writeLength),
                       c->readLength),
                  call);
    }
    reset(0);
    EXPECT_EQ(ask(0x52, {0x03, 0xA1, 0x01}), Bytes{0xC7});
    EXPECT_EQ(calls(&c), 0u);
}
