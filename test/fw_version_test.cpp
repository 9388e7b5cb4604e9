// Firmware version records and the BIOS version string through the host's
// dispatcher, against the version store in the sandbox's /var/lib and the
// mocked software updater.
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mockbus = kestrel::test::mockbus;
using kestrel::test::Reply;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

namespace
{

constexpr ipmi::NetFn netFn = 0x3A;
constexpr ipmi::Cmd cmdSetFw = 0x86;
constexpr ipmi::Cmd cmdGetFw = 0x87;
constexpr ipmi::Cmd cmdSetBiosInfo = 0xB2;

constexpr auto biosActive = "/xyz/openbmc_project/software/bios_active";
constexpr auto versionInterface = "xyz.openbmc_project.Software.Version";

using Bytes = std::vector<uint8_t>;

Bytes record(Bytes head)
{
    head.resize(16, 0x00);
    return head;
}

class FwVersionTest : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        fwVer = kestrel::test::providerSymbol<uint8_t*>("FwVer");
        ASSERT_NE(fwVer, nullptr);
    }

    void SetUp() override
    {
        mockbus::reset(mockbus::software);
    }

    static Reply send(ipmi::Cmd cmd, const Bytes& data)
    {
        return kestrel::test::send(netFn, cmd, data);
    }

    Reply setRecord(uint8_t index, const Bytes& bytes)
    {
        Bytes request{index};
        request.insert(request.end(), bytes.begin(), bytes.end());
        return send(cmdSetFw, request);
    }

    std::string biosVersion()
    {
        return mockbus::getProperty(mockbus::software, biosActive,
                                    versionInterface, "Version");
    }

    Bytes fwVerEntry(uint8_t index)
    {
        return Bytes(fwVer + 16 * index, fwVer + 16 * (index + 1));
    }

    static inline uint8_t* fwVer = nullptr;
};

TEST_F(FwVersionTest, BiosRecordPublishesItsVersionString)
{
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {{0x01, 0x05, 0x00, 0x00, 0x00}, "1.05"},
        {{0x01, 0x05, 0x00, 0x00, 0x03}, "1.05.03"},
        {{0x02, 0x0A, 0x41, 0x42, 0x00}, "2.10.AB"},
        {{0x02, 0x0A, 0x41, 0x42, 0x07}, "2.10.AB07"},
        // Numbers print in decimal: minor 0x10 is 16.
        {{0x02, 0x10, 0x41, 0x42, 0x10}, "2.16.AB16"},
        {{0xFF, 0xFF, 0x00, 0x00, 0xFF}, "255.255.255"},
    };
    for (const auto& [bytes, version] : cases)
    {
        SCOPED_TRACE(version);
        Reply r = setRecord(0x00, record(bytes));
        EXPECT_EQ(r.cc, 0x00);
        EXPECT_THAT(r.data, ElementsAre(0x00));
        EXPECT_EQ(biosVersion(), "s:" + version);
        EXPECT_THAT(send(cmdGetFw, {0x00}).data,
                    ElementsAreArray(record(bytes)));
    }
    auto sets = mockbus::calls(mockbus::software, "Set");
    ASSERT_EQ(sets.size(), cases.size());
    EXPECT_EQ(sets[0].path, biosActive);
    EXPECT_THAT(sets[0].args, ElementsAre(std::string("s:") + versionInterface,
                                          "s:Version", "s:1.05"));
}

TEST_F(FwVersionTest, OtherRecordsAreStoredWithoutDbus)
{
    Bytes bytes = record({0x03, 0x01, 0x58, 0x59, 0x02, 0xAA, 0xBB});
    bytes[15] = 0xEE;
    Reply r = setRecord(0x05, bytes);
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(send(cmdGetFw, {0x05}).data, ElementsAreArray(bytes));
    EXPECT_THAT(fwVerEntry(0x05), ElementsAreArray(bytes));
    EXPECT_THAT(mockbus::allCalls(mockbus::software), IsEmpty());

    // The last index works; a record never written reads as zeroes.
    EXPECT_EQ(setRecord(0x1C, record({0x09})).cc, 0x00);
    EXPECT_THAT(send(cmdGetFw, {0x1C}).data, ElementsAreArray(record({0x09})));
    EXPECT_THAT(send(cmdGetFw, {0x1B}).data, ElementsAreArray(record({})));
}

TEST_F(FwVersionTest, ShortRecordIsStoredZeroPadded)
{
    setRecord(0x07, record({0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
    EXPECT_EQ(setRecord(0x07, {0x01, 0x02}).cc, 0x00);
    EXPECT_THAT(send(cmdGetFw, {0x07}).data,
                ElementsAreArray(record({0x01, 0x02})));
    EXPECT_THAT(fwVerEntry(0x07), ElementsAreArray(record({0x01, 0x02})));
}

TEST_F(FwVersionTest, RefusedRequestsChangeNothing)
{
    setRecord(0x02, record({0x04, 0x04}));
    Bytes before = fwVerEntry(0x02);

    Reply outOfRange = setRecord(0x1D, record({0x01}));
    EXPECT_EQ(outOfRange.cc, 0xC1);
    EXPECT_THAT(outOfRange.data, IsEmpty());
    Bytes tooLong = record({0x05, 0x05});
    tooLong.push_back(0x01);
    EXPECT_EQ(setRecord(0x02, tooLong).cc, 0xC7);
    EXPECT_EQ(send(cmdSetFw, {}).cc, 0xC7);

    EXPECT_THAT(fwVerEntry(0x02), ElementsAreArray(before));
    EXPECT_THAT(send(cmdGetFw, {0x02}).data, ElementsAreArray(before));
    EXPECT_EQ(send(cmdGetFw, {0x1D}).cc, 0xC1);
    EXPECT_EQ(send(cmdGetFw, {}).cc, 0xC7);
    EXPECT_THAT(mockbus::allCalls(mockbus::software), IsEmpty());
}

TEST_F(FwVersionTest, FailedPublishLeavesTheStoredBiosRecord)
{
    setRecord(0x00, record({0x01, 0x01}));
    mockbus::failSet(mockbus::software, biosActive, "Version",
                     "xyz.openbmc_project.Common.Error.NotAllowed", "busy");
    Reply r = setRecord(0x00, record({0x02, 0x02}));
    EXPECT_EQ(r.cc, 0xFF);
    EXPECT_THAT(send(cmdGetFw, {0x00}).data,
                ElementsAreArray(record({0x01, 0x01})));
    // The in-memory copy is the request's.
    EXPECT_THAT(fwVerEntry(0x00), ElementsAreArray(record({0x02, 0x02})));
}

TEST_F(FwVersionTest, BiosFirmwareInfoPublishesItsNotation)
{
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {{0x01, 0x02, 0x1A, 0x00}, "L2.1a"},
        {{0x00, 0x03, 0x05, 0x62}, "P3.05b"},
        {{0x07, 0x03, 0x05, 0xFF}, "P3.05"},
        {{0x01, 0xFF, 0xFF, 0x7A}, "L255.ffz"},
    };
    for (const auto& [bytes, version] : cases)
    {
        SCOPED_TRACE(version);
        Reply r = send(cmdSetBiosInfo, bytes);
        EXPECT_EQ(r.cc, 0x00);
        EXPECT_THAT(r.data, ElementsAre(0x00));
        EXPECT_EQ(biosVersion(), "s:" + version);
    }
    mockbus::clearCalls(mockbus::software);
    EXPECT_EQ(send(cmdSetBiosInfo, {0x01, 0x02, 0x1A}).cc, 0xC7);
    EXPECT_THAT(mockbus::allCalls(mockbus::software), IsEmpty());
}

} // namespace
