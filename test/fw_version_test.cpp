// Firmware version records and the BIOS version string through the host's
// dispatcher, against the version store in /var/lib and the mocked updater.
#include "mockbus.hpp"
#include "provider.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mockbus = kestrel::test::mockbus;
using kestrel::test::Bytes;
using kestrel::test::send;

namespace
{

constexpr auto biosActive = "/xyz/openbmc_project/software/bios_active";

Bytes record(Bytes head)
{
    head.resize(16, 0x00);
    return head;
}

kestrel::test::Reply setRecord(uint8_t index, Bytes bytes)
{
    bytes.insert(bytes.begin(), index);
    return send(0x3A, 0x86, bytes);
}

TEST(FwVersion, RecordsAreStoredAndOnlyTheBiosOnesPublished)
{
    ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    mockbus::reset(mockbus::software);
    Bytes other = record({0x03, 0x01, 0x58, 0x59, 0x02, 0xAA, 0xBB});
    other[15] = 0xEE;
    auto r = setRecord(0x05, other);
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_EQ(r.data, Bytes{0x00});
    EXPECT_EQ(send(0x3A, 0x87, {0x05}).data, other);

    EXPECT_EQ(setRecord(0x00, record({0x01, 0x05})).cc, 0x00);
    EXPECT_EQ(send(0x3A, 0x87, {0x00}).data, record({0x01, 0x05}));
    EXPECT_EQ(send(0x3A, 0xB2, {0x01, 0x02, 0x1A, 0x00}).data, Bytes{0x00});
    auto sets = mockbus::calls(mockbus::software, "Set");
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].path, biosActive);
    EXPECT_THAT(sets[0].args,
                testing::ElementsAre("s:xyz.openbmc_project.Software.Version",
                                     "s:Version", "s:1.05"));
    EXPECT_EQ(sets[1].args.back(), "s:L2.1a");

    // One refusal per command.
    r = setRecord(0x1D, record({0x01}));
    EXPECT_EQ(r.cc, 0xC1);
    EXPECT_TRUE(r.data.empty());
    EXPECT_EQ(send(0x3A, 0x87, {0x1D}).cc, 0xC1);
    EXPECT_EQ(send(0x3A, 0xB2, {0x01, 0x02, 0x1A}).cc, 0xC7);
}

TEST(FwVersion, FailedPublishLeavesTheStoredBiosRecord)
{
    ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    mockbus::reset(mockbus::software);
    setRecord(0x00, record({0x01, 0x01}));
    mockbus::failSet(mockbus::software, biosActive, "Version",
                     "xyz.openbmc_project.Common.Error.NotAllowed", "busy");
    EXPECT_EQ(setRecord(0x00, record({0x02, 0x02})).cc, 0xFF);
    EXPECT_EQ(send(0x3A, 0x87, {0x00}).data, record({0x01, 0x01}));
}

} // namespace
