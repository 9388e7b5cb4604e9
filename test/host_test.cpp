// The ipmid host as providers see it: loading order, registration rules,
// the legacy buffer contract, typed unpacking and exception answers.
#include "host.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using kestrel::test::Reply;
using kestrel::test::send;
using testing::ElementsAre;
using testing::IsEmpty;

namespace
{
std::vector<std::string> loadedProbes;
}

extern "C" __attribute__((visibility("default"))) void
    probeLoaded(const char* name)
{
    loadedProbes.emplace_back(name);
}

namespace
{

class HostTest : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        dir = kestrel::test::tempDir() / "providers";
        fs::create_directories(dir);
        fs::copy_file(PROBE_A, dir / "10-probe.so");
        fs::copy_file(PROBE_B, dir / "20-probe.so.1");
        fs::create_symlink(dir / "10-probe.so", dir / "30-link.so");
        kestrel::test::writeFile(dir / "15-broken.so", std::string("not elf"));
        kestrel::test::writeFile(dir / "notes.txt", std::string("x"));
        kestrel::test::writeFile(dir / "libfake.sox", std::string("x"));
        journalMarkBeforeLoad = kestrel::test::journalMark();
        handles = ipmi::host::loadProviders(dir.string());
    }

    static inline fs::path dir;
    static inline std::vector<void*> handles;
    static inline std::size_t journalMarkBeforeLoad = 0;
};

TEST_F(HostTest, LoadsRegularSoFilesInSortedOrderAndSkipsTheRest)
{
    auto files = ipmi::host::providerFiles(dir.string());
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(fs::path(files[0]).filename(), "10-probe.so");
    EXPECT_EQ(fs::path(files[1]).filename(), "15-broken.so");
    EXPECT_EQ(fs::path(files[2]).filename(), "20-probe.so.1");

    EXPECT_EQ(handles.size(), 2u);
    EXPECT_THAT(loadedProbes, ElementsAre("a", "b"));

    auto logged = kestrel::test::waitForJournal("ERROR opening IPMI provider",
                                                journalMarkBeforeLoad);
    ASSERT_TRUE(logged);
    EXPECT_EQ(logged->fields.at("PROVIDER"), (dir / "15-broken.so").string());
    EXPECT_EQ(logged->fields.at("PRIORITY"), "3");
    EXPECT_FALSE(logged->fields.at("ERROR").empty());
}

TEST_F(HostTest, PriorityDecidesWhoKeepsASlot)
{
    // Equal priority: the provider that sorts last wins.
    EXPECT_EQ(send(0x30, 0x20).data, std::vector<uint8_t>{'b'});
    // The second probe's lower priority did not displace the first.
    EXPECT_EQ(send(0x30, 0x13).data, std::vector<uint8_t>{0x30});

    auto regs = ipmi::host::registrations();
    const auto& legacy = regs.at((0x30u << 8) | 0x01);
    EXPECT_TRUE(legacy.legacy);
    EXPECT_EQ(legacy.legacyPrivilege, 0xFF);
    EXPECT_EQ(legacy.priv, ipmi::Privilege::Admin);
    EXPECT_EQ(legacy.prio, ipmi::prioOpenBmcBase);
}

TEST_F(HostTest, LegacyHandlerSeesRequestLengthAndIsCutToItsLength)
{
    Reply r = send(0x30, 0x01, {1, 2, 3});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, ElementsAre(1, 2, 3));

    // An error code with the length left alone still sends request-length
    // bytes of the zeroed buffer, as ipmid does.
    r = send(0x30, 0x05, {9, 9, 9});
    EXPECT_EQ(r.cc, 0xC9);
    EXPECT_THAT(r.data, ElementsAre(0x42, 0x00, 0x00));
}

TEST_F(HostTest, LegacyExceptionsAreAnsweredAndLogged)
{
    auto mark = kestrel::test::journalMark();
    Reply r = send(0x30, 0x02, {7});
    EXPECT_EQ(r.cc, 0xFF);
    EXPECT_THAT(r.data, IsEmpty());
    auto failed = kestrel::test::waitForJournal(
        "Legacy Handler failed to catch exception", mark);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->fields.at("PRIORITY"), "3");
    EXPECT_EQ(failed->fields.at("NETFN"), "30");
    EXPECT_EQ(failed->fields.at("CMD"), "2");
    EXPECT_EQ(failed->fields.at("EXCEPTION"), "legacy boom");

    r = send(0x30, 0x03);
    EXPECT_EQ(r.cc, 0xD5);
    EXPECT_THAT(r.data, IsEmpty());
    auto produced = kestrel::test::waitForJournal(
        "Legacy Handler produced exception", mark);
    ASSERT_TRUE(produced);
    EXPECT_EQ(produced->fields.at("PRIORITY"), "6");
    EXPECT_EQ(produced->fields.at("CC"), "d5");
    EXPECT_EQ(produced->fields.at("EXCEPTION"), "not now");

    r = send(0x30, 0x04);
    EXPECT_EQ(r.cc, 0xFF);
    auto unknown = kestrel::test::waitForJournal(
        "Handler failed to catch exception", mark);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->fields.at("EXCEPTION"), "int");

    // The host keeps serving.
    EXPECT_EQ(send(0x30, 0x01, {5}).data, std::vector<uint8_t>{5});
}

TEST_F(HostTest, TypedUnpackRefusesMissingOrLeftOverBytes)
{
    // uint8_t + optional<uint8_t>
    EXPECT_EQ(send(0x30, 0x10).cc, 0xC7);
    Reply r = send(0x30, 0x10, {2});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, ElementsAre(2, 0x10, 4));
    r = send(0x30, 0x10, {2, 3});
    EXPECT_THAT(r.data, ElementsAre(5, 0x10, 4));
    r = send(0x30, 0x10, {2, 3, 4});
    EXPECT_EQ(r.cc, 0xC7);
    EXPECT_THAT(r.data, IsEmpty());

    // No arguments: any data is left over.
    r = send(0x30, 0x11);
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8));
    EXPECT_EQ(send(0x30, 0x11, {0}).cc, 0xC7);
}

TEST_F(HostTest, TypedExceptionsAreAnsweredAndLogged)
{
    auto mark = kestrel::test::journalMark();
    Reply r = send(0x30, 0x12, {0x01});
    EXPECT_EQ(r.cc, 0xCC);
    EXPECT_THAT(r.data, IsEmpty());
    auto produced =
        kestrel::test::waitForJournal("Handler produced exception", mark);
    ASSERT_TRUE(produced);
    EXPECT_EQ(produced->fields.at("PRIORITY"), "6");
    EXPECT_EQ(produced->fields.at("NETFN"), "30");
    EXPECT_EQ(produced->fields.at("CMD"), "12");
    EXPECT_EQ(produced->fields.at("CC"), "cc");
    EXPECT_EQ(produced->fields.at("EXCEPTION"), "typed refusal");

    r = send(0x30, 0x12, {});
    EXPECT_EQ(r.cc, 0xFF);
    auto failed = kestrel::test::waitForJournal(
        "Handler failed to catch exception", mark);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->fields.at("PRIORITY"), "3");
    EXPECT_EQ(failed->fields.at("EXCEPTION"), "typed boom");
}

TEST_F(HostTest, LookupFallsBackToWildcardThenInvalidCommand)
{
    EXPECT_EQ(send(0x30, 0x77, {1, 2}).data, std::vector<uint8_t>{0x30});
    Reply r = send(0x32, 0x77, {1});
    EXPECT_EQ(r.cc, 0xC1);
    EXPECT_THAT(r.data, IsEmpty());
    // Session-less requests run at Administrator: an OEM-privilege handler
    // is out of reach.
    EXPECT_EQ(send(0x30, 0x14).cc, 0xD4);
}

TEST_F(HostTest, GroupRequestsCarryTheirGroupByte)
{
    // ipmitool's PICMG probe: no such group handler, answered with the
    // group byte in front.
    Reply r = send(0x2C, 0x00, {0x00});
    EXPECT_EQ(r.cc, 0xC1);
    EXPECT_THAT(r.data, ElementsAre(0x00));
    EXPECT_EQ(send(0x2C, 0x00).cc, 0xC7);
}

TEST(HostRegistration, RefusesNetFnsIpmidRefuses)
{
    auto handler = ipmi::makeLegacyHandler(
        [](ipmi_netfn_t, ipmi_cmd_t, ipmi_request_t, ipmi_response_t,
           ipmi_data_len_t, ipmi_context_t) -> ipmi_ret_t { return 0; });
    EXPECT_FALSE(ipmi::impl::registerHandler(10, 0x3B, 0x01,
                                             ipmi::Privilege::Admin, handler));
    EXPECT_FALSE(ipmi::impl::registerHandler(10, 0x10, 0x01,
                                             ipmi::Privilege::Admin, handler));
    EXPECT_FALSE(ipmi::impl::registerHandler(10, 0x40, 0x01,
                                             ipmi::Privilege::Admin, handler));
    EXPECT_TRUE(ipmi::impl::registerHandler(10, 0x3E, 0x01,
                                            ipmi::Privilege::Admin, handler));
}

} // namespace

namespace
{

TEST(HostPayload, RequestDiscardedWithoutLengthCheckIsLogged)
{
    auto mark = kestrel::test::journalMark();
    {
        ipmi::message::Payload p(ipmi::SecureBuffer{1, 2, 3});
        p.trailingOk = false;
    }
    auto logged = kestrel::test::waitForJournal(
        "Failed to check request for full unpack", mark);
    ASSERT_TRUE(logged);
    EXPECT_EQ(logged->fields.at("PRIORITY"), "3");
    EXPECT_EQ(logged->fields.at("RAW_SIZE"), "3");
}

} // namespace
