// I2C master write-read through the host's dispatcher, with the recording
// libsmbridge double loaded in place of the real library.
#include "provider.hpp"
#include "sandbox.hpp"

#include <dlfcn.h>

#include <cerrno>
#include <string>
#include <vector>

#include "smbridge_double.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using kestrel::test::Reply;
using testing::ElementsAre;
using testing::IsEmpty;

namespace
{

constexpr ipmi::NetFn netFn = 0x3A;
constexpr ipmi::Cmd cmdMasterWriteRead = 0x52;

class MasterWriteReadTest : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        // Loaded first, the double is the libsmbridge.so.0 the provider
        // gets.
        void* bridge = ::dlopen(SMBRIDGE_DOUBLE, RTLD_NOW | RTLD_GLOBAL);
        ASSERT_NE(bridge, nullptr) << ::dlerror();
        ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
        ASSERT_EQ(::dlopen("libsmbridge.so.0", RTLD_NOW | RTLD_NOLOAD), bridge);
        ASSERT_NE(bridge, nullptr);
        calls = reinterpret_cast<decltype(calls)>(
            ::dlsym(bridge, "smbridge_double_calls"));
        reset = reinterpret_cast<decltype(reset)>(
            ::dlsym(bridge, "smbridge_double_reset"));
        ASSERT_NE(calls, nullptr) << "the real libsmbridge was loaded";
        ASSERT_NE(reset, nullptr);
    }

    void SetUp() override
    {
        reset(0);
    }

    static Reply send(const std::vector<uint8_t>& data)
    {
        return kestrel::test::send(netFn, cmdMasterWriteRead, data);
    }

    std::vector<SmbridgeCall> recorded()
    {
        const SmbridgeCall* first = nullptr;
        size_t n = calls(&first);
        return {first, first + n};
    }

    static inline size_t (*calls)(const SmbridgeCall**) = nullptr;
    static inline void (*reset)(int) = nullptr;
};

TEST_F(MasterWriteReadTest, WriteThenReadIsOneTransaction)
{
    Reply r = send({0x03, 0xA0, 0x02, 0x00});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, ElementsAre(0xA0, 0xA1));
    auto c = recorded();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].function, smbridgeBusXfer);
    EXPECT_STREQ(c[0].device, "/dev/i2c-3");
    EXPECT_EQ(c[0].address, 0x50);
    EXPECT_EQ(c[0].writeLength, 1u);
    EXPECT_EQ(c[0].writeData[0], 0x00);
    EXPECT_EQ(c[0].readLength, 2u);
}

TEST_F(MasterWriteReadTest, PlainReadAndPlainWrite)
{
    Reply read = send({0x0C, 0x9E, 0x03});
    EXPECT_EQ(read.cc, 0x00);
    EXPECT_THAT(read.data, ElementsAre(0xA0, 0xA1, 0xA2));

    Reply write = send({0xFF, 0x40, 0x00, 0x11, 0x22});
    EXPECT_EQ(write.cc, 0x00);
    EXPECT_THAT(write.data, IsEmpty());

    auto c = recorded();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].function, smbridgeMasterRead);
    EXPECT_STREQ(c[0].device, "/dev/i2c-12");
    EXPECT_EQ(c[0].address, 0x4F);
    EXPECT_EQ(c[0].readLength, 3u);
    EXPECT_EQ(c[1].function, smbridgeMasterWrite);
    EXPECT_STREQ(c[1].device, "/dev/i2c-255");
    EXPECT_EQ(c[1].address, 0x20);
    EXPECT_EQ(c[1].writeLength, 2u);
    EXPECT_EQ(c[1].writeData[0], 0x11);
    EXPECT_EQ(c[1].writeData[1], 0x22);
}

TEST_F(MasterWriteReadTest, EmptyTransferProbesWithOneByteAndReturnsNone)
{
    Reply r = send({0x03, 0xA0, 0x00});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, IsEmpty());
    auto c = recorded();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].function, smbridgeMasterRead);
    EXPECT_EQ(c[0].readLength, 1u);

    reset(-ENXIO);
    Reply absent = send({0x03, 0xA0, 0x00});
    EXPECT_EQ(absent.cc, 0xC1);
    EXPECT_THAT(absent.data, IsEmpty());
}

TEST_F(MasterWriteReadTest, LibraryFailureAnswersInvalidCommandWithNoData)
{
    reset(-EIO);
    for (const auto& request : {std::vector<uint8_t>{0x03, 0xA0, 0x02, 0x00},
                                std::vector<uint8_t>{0x03, 0xA0, 0x02},
                                std::vector<uint8_t>{0x03, 0xA0, 0x00, 0x01}})
    {
        Reply r = send(request);
        EXPECT_EQ(r.cc, 0xC1);
        EXPECT_THAT(r.data, IsEmpty());
    }
    EXPECT_EQ(recorded().size(), 3u);
}

TEST_F(MasterWriteReadTest, OddAddressOrShortRequestIsRefusedUntouched)
{
    for (const auto& request :
         {std::vector<uint8_t>{0x03, 0xA1, 0x01},
          std::vector<uint8_t>{0x03, 0xA0}, std::vector<uint8_t>{}})
    {
        Reply r = send(request);
        EXPECT_EQ(r.cc, 0xC7);
        EXPECT_THAT(r.data, IsEmpty());
    }
    EXPECT_THAT(recorded(), IsEmpty());
}

} // namespace
