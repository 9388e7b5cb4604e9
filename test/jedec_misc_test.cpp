// Misc (flash JEDEC ID, Wake-on-LAN) through the dispatcher, and the exported
// PIROM and GARP handlers by symbol, on the sandbox's sysfs files and store.
#include "provider.hpp"
#include "sandbox.hpp"

#include <ipmid/api.h>

#include <filesystem>
#include <numeric>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using kestrel::test::Bytes;
using kestrel::test::Reply;

namespace
{

const fs::path jedec0 = "/sys/bus/spi/devices/spi0.0/spi-nor/jedec_id";
const fs::path jedec1 = "/sys/bus/spi/devices/spi0.1/spi-nor/jedec_id";
const fs::path pirom = "/sys/bus/i2c/devices/1-0050/eeprom";

void put(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    kestrel::test::writeFile(path, text);
}

// An exported legacy handler, called as ipmid would with its buffer.
Reply call(const char* name, Bytes request)
{
    Bytes response(1024, 0xEE);
    std::size_t length = request.size();
    auto handler = kestrel::test::providerSymbol<ipmid_callback_t>(name);
    auto cc =
        handler(0x3A, 0x00, request.data(), response.data(), &length, nullptr);
    response.resize(length);
    return {cc, response};
}

TEST(Misc, RequestsReachTheirFilesAndStore)
{
    ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    put(jedec0, "ef4019\n");
    put(jedec1, "C22539");
    put(pirom, std::string(256, '\0'));
    Bytes data(16);
    std::iota(data.begin(), data.end(), uint8_t{0x30});
    Bytes write = {0x00, 0x00, 0x00, 0x80, 0x10};
    write.insert(write.end(), data.begin(), data.end());
    // "misc" goes through the dispatcher, others to the handler by name.
    const std::tuple<const char*, Bytes, Reply> rows[] = {
        {"misc", {0x43}, {0x00, {0xEF, 0x40, 0x19}}},
        {"misc", {0x43, 0x01}, {0x00, {0xC2, 0x25, 0x39}}},
        {"misc", {0x43, 0x02}, {0xCC, {}}},
        {"misc", {0xB0, 0x01}, {0x00, {0x00}}},
        {"misc", {0xB0, 0x00, 0xFE}, {0x00, {}}},
        {"misc", {0xB0, 0x01}, {0x00, {0xFE}}},
        // GARP keeps its own key beside Wake-on-LAN's.
        {"ipmiGarp", {0xAB, 0x00, 0x01}, {0x00, {}}},
        {"ipmiGarp", {0x00, 0x01}, {0x00, {0x01}}},
        {"misc", {0xB0, 0x01}, {0x00, {0xFE}}},
        // Only the upper half of the PIROM is written.
        {"ipmiPiromCmd", {0x00, 0x00, 0x00, 0x7F, 0x01, 0x55}, {0xC1, {}}},
        {"ipmiPiromCmd", write, {0x00, {0x00}}},
        {"ipmiPiromCmd",
         {0x00, 0x00, 0x01, 0x84, 0x04},
         {0x00, {0x34, 0x35, 0x36, 0x37}}},
    };
    for (const auto& [to, request, expected] : rows)
    {
        Reply r = std::string(to) == "misc"
                      ? kestrel::test::send(0x3A, 0xE3, request)
                      : call(to, request);
        EXPECT_EQ(r.cc, expected.cc) << testing::PrintToString(request);
        EXPECT_EQ(r.data, expected.data) << testing::PrintToString(request);
    }
    auto image = kestrel::test::readFile(pirom);
    EXPECT_EQ(image[0x7F], 0x00);
    EXPECT_EQ(Bytes(image.begin() + 0x80, image.begin() + 0x90), data);
}

TEST(Misc, FailuresArePrintedOrLogged)
{
    ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    put(jedec0, "ef40191\n");
    fs::remove(jedec1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(kestrel::test::send(0x3A, 0xE3, {0x43}).cc, 0xFF);
    EXPECT_EQ(kestrel::test::send(0x3A, 0xE3, {0x43, 0x01}).cc, 0xFF);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_THAT(err, testing::HasSubstr("Unexpected JEDEC ID length: 7\n"));
    EXPECT_THAT(
        err, testing::HasSubstr("Failed to open jedec_id file: No such file"));

    fs::remove(pirom);
    auto mark = kestrel::test::journalMark();
    Reply r = call("ipmiPiromCmd", {0x00, 0x00, 0x01, 0x80, 0x01});
    EXPECT_EQ(r.cc, 0x80);
    auto entry =
        kestrel::test::waitForJournal("Unable to open PIROM EEPROM", mark);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ((*entry)["PRIORITY"], "3");
    EXPECT_FALSE(fs::exists(pirom));
}

} // namespace
