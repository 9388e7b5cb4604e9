// Misc through the dispatcher, PIROM and GARP by symbol: sysfs files, store.
#include "provider.hpp"
#include "sandbox.hpp"

#include <ipmid/api.h>

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace kestrel::test;
using testing::HasSubstr;

const fs::path jedec0 = "/sys/bus/spi/devices/spi0.0/spi-nor/jedec_id";
const fs::path jedec1 = "/sys/bus/spi/devices/spi0.1/spi-nor/jedec_id";
const fs::path pirom = "/sys/bus/i2c/devices/1-0050/eeprom";

static void put(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    writeFile(path, text);
}

// An exported legacy handler called as ipmid calls it: the cc, then the data.
static Bytes call(const char* name, Bytes request)
{
    Bytes response(1024, 0xEE);
    std::size_t length = request.size();
    response[0] = providerSymbol<ipmid_callback_t>(name)(
        0x3A, 0x00, request.data(), response.data() + 1, &length, nullptr);
    response.resize(length + 1);
    return response;
}

TEST(Misc, RequestsReachTheirFilesAndStoreAndFailuresAreReported)
{
    ASSERT_NE(kestrelProvider(), nullptr);
    put(jedec0, "ef4019\n");
    put(jedec1, "C22539");
    put(pirom, std::string(256, '\0'));
    const Bytes write = {0x00, 0x00, 0x00, 0x80, 0x04, 0x30, 0x31, 0x32, 0x33};
    // "misc" goes through the dispatcher, the others to the handler by name.
    const std::tuple<std::string, Bytes, Bytes> rows[] = {
        {"misc", {0x43, 0x01}, {0x00, 0xC2, 0x25, 0x39}},
        {"ipmiGarp", {0xAB, 0x00, 0x01}, {0x00}},
        {"ipmiGarp", {0x00, 0x01}, {0x00, 0x01}},
        {"ipmiPiromCmd", write, {0x00, 0x00}},
        {"ipmiPiromCmd", {0, 0, 1, 0x82, 2}, {0x00, 0x32, 0x33}},
    };
    for (const auto& [to, request, expected] : rows)
    {
        EXPECT_EQ(to == "misc" ? ask(0xE3, request) : call(to.c_str(), request),
                  expected)
            << to << " " << int{request[0]};
    }
    auto image = readFile(pirom);
    EXPECT_EQ(Bytes(image.begin() + 0x80, image.begin() + 0x84),
              Bytes(write.begin() + 5, write.end()));

    // Failures: printed, or logged with an answer of their own.
    put(jedec0, "ef40191\n");
    fs::remove(jedec1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ask(0xE3, {0x43}), Bytes{0xFF});
    EXPECT_EQ(ask(0xE3, {0x43, 0x01}), Bytes{0xFF});
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_THAT(err, HasSubstr("Unexpected JEDEC ID length: 7\n"));
    EXPECT_THAT(err, HasSubstr("Failed to open jedec_id file: No such file"));

    fs::remove(pirom);
    auto mark = journalMark();
    EXPECT_EQ(call("ipmiPiromCmd", {0, 0, 1, 0x80, 1}), Bytes{0x80});
    auto entry = waitForJournal("Unable to open PIROM EEPROM", mark);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ((*entry)["PRIORITY"], "3");
    EXPECT_FALSE(fs::exists(pirom));
}
