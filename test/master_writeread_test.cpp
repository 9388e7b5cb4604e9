// I2C master write-read through the host's dispatcher, with the recording
// libsmbridge double loaded in place of the real library.
#include "provider.hpp"

#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "smbridge_double.h"

#include <gtest/gtest.h>

using kestrel::test::Bytes;

namespace
{

TEST(MasterWriteRead, RequestsReachTheBusLibrary)
{
    // Loaded first, the double is the libsmbridge.so.0 the provider gets.
    void* bridge = ::dlopen(SMBRIDGE_DOUBLE, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(bridge, nullptr) << ::dlerror();
    ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    ASSERT_EQ(::dlopen("libsmbridge.so.0", RTLD_NOW | RTLD_NOLOAD), bridge);
    auto calls = reinterpret_cast<std::size_t (*)(const SmbridgeCall**)>(
        ::dlsym(bridge, "smbridge_double_calls"));
    auto reset = reinterpret_cast<void (*)(int)>(
        ::dlsym(bridge, "smbridge_double_reset"));
    ASSERT_NE(calls, nullptr) << "the real libsmbridge was loaded";

    // The one call made, as "function (0 transfer, 1 write, 2 read) device
    // address: written bytes /read length".
    auto made = [&] {
        const SmbridgeCall* c = nullptr;
        if (calls(&c) != 1)
        {
            return std::to_string(calls(&c)) + " calls";
        }
        char text[1024];
        int n = std::snprintf(text, sizeof(text), "%d %s %02x:", c->function,
                              c->device, c->address);
        for (uint32_t i = 0; i < c->writeLength; ++i)
        {
            n += std::snprintf(text + n, sizeof(text) - n, " %02x",
                               c->writeData[i]);
        }
        std::snprintf(text + n, sizeof(text) - n, " /%u", c->readLength);
        return std::string(text);
    };
    const std::tuple<Bytes, ipmi::Cc, Bytes, std::string> rows[] = {
        {{0x03, 0xA0, 0x02, 0x00},
         0x00,
         {0xA0, 0xA1},
         "0 /dev/i2c-3 50: 00 /2"},
        {{0x0C, 0x9E, 0x03}, 0x00, {0xA0, 0xA1, 0xA2}, "2 /dev/i2c-12 4f: /3"},
        {{0xFF, 0x40, 0x00, 0x11, 0x22},
         0x00,
         {},
         "1 /dev/i2c-255 20: 11 22 /0"},
        {{0x03, 0xA1, 0x01}, 0xC7, {}, "0 calls"},
    };
    for (const auto& [request, cc, data, call] : rows)
    {
        reset(0);
        auto r = kestrel::test::send(0x3A, 0x52, request);
        EXPECT_EQ(r.cc, cc) << call;
        EXPECT_EQ(r.data, data) << call;
        EXPECT_EQ(made(), call);
    }
}

} // namespace
