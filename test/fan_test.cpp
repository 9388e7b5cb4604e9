// Smart fan control and fan initial duty through the host's dispatcher: the
// fan controller's unit on the mocked systemd, the PWM attributes of an
// hwmon tree under the sandbox's /sys/bus, and the board EEPROM image.
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace mockbus = kestrel::test::mockbus;
using kestrel::test::Reply;
using testing::ElementsAre;
using testing::IsEmpty;
using Bytes = std::vector<uint8_t>;

namespace
{

constexpr ipmi::NetFn netFn = 0x3A;
constexpr ipmi::Cmd cmdSetSmartFan = 0x01;
constexpr ipmi::Cmd cmdGetSmartFan = 0x02;
constexpr ipmi::Cmd cmdSetInitDuty = 0x0C;
constexpr ipmi::Cmd cmdGetInitDuty = 0x0D;

const fs::path hwmonRoot = "/sys/bus/platform/drivers/aspeed_pwm_tacho/"
                           "1e786000.pwm-tacho-controller/hwmon";
constexpr auto unitFanControl =
    "/org/freedesktop/systemd1/unit/phosphor_2dpid_2dcontrol_2eservice";
constexpr int boardOutputs = 6;

constexpr uint32_t tableOffset = 0x3F40;

// Every write to a PWM attribute: its path and the exact text.
std::vector<std::pair<std::string, std::string>> pwmWrites;
// EEPROM writes (offset, length), and whether they fail.
std::vector<std::pair<uint32_t, uint32_t>> eepromWrites;
bool failEepromWrites = false;
bool failEepromReads = false;
// Only the provider's writes during a request go through the driver model;
// the test's own set-up writes are plain file writes.
bool inRequest = false;

std::string fdPath(int fd)
{
    char link[4096];
    std::string proc = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = ::readlink(proc.c_str(), link, sizeof(link) - 1);
    return n > 0 ? std::string(link, static_cast<std::size_t>(n)) : "";
}

template <typename Fn>
Fn realRomcell(const char* name)
{
    return reinterpret_cast<Fn>(
        ::dlsym(::dlopen("libromcell.so.0", RTLD_NOW | RTLD_NOLOAD), name));
}

} // namespace

// The provider's writes resolve here.  A PWM attribute behaves as the
// driver's does: it takes a whole value 0..255 and shows it with a newline;
// anything larger is refused with EINVAL.
extern "C" ssize_t write(int fd, const void* buf, size_t count)
{
    using Write = ssize_t (*)(int, const void*, size_t);
    static auto real = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
    std::string path = fdPath(fd);
    if (!inRequest || !path.starts_with(hwmonRoot.string() + "/") ||
        fs::path(path).filename().string().rfind("pwm", 0) != 0)
    {
        return real(fd, buf, count);
    }
    std::string text(static_cast<const char*>(buf), count);
    pwmWrites.emplace_back(path, text);
    if (std::stoul(text) > 255)
    {
        errno = EINVAL;
        return -1;
    }
    std::string shown = text + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, shown.data(), shown.size(), 0) < 0)
    {
        return -1;
    }
    return static_cast<ssize_t>(count);
}

extern "C" int write_eeprom(const uint8_t* data, uint32_t offset,
                            uint32_t length)
{
    using Write = int (*)(const uint8_t*, uint32_t, uint32_t);
    static auto real = realRomcell<Write>("write_eeprom");
    eepromWrites.emplace_back(offset, length);
    return failEepromWrites ? -EIO : real(data, offset, length);
}

extern "C" int read_eeprom(uint8_t* buffer, uint32_t offset, uint32_t length)
{
    using Read = int (*)(uint8_t*, uint32_t, uint32_t);
    static auto real = realRomcell<Read>("read_eeprom");
    if (failEepromReads)
    {
        std::memset(buffer, 0x55, length);
        return -EIO;
    }
    return real(buffer, offset, length);
}

namespace
{

class FanTest : public mockbus::MockTest
{
  protected:
    FanTest() : MockTest({mockbus::systemd})
    {
    }

    static void SetUpTestSuite()
    {
        ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    }

    // The controller probed as hwmon3 (hwmon0 to 2 belong to other drivers
    // or are gone), with six outputs at raw 0.
    void SetUp() override
    {
        MockTest::SetUp();
        fs::remove_all(hwmonRoot);
        makeHwmon(3, boardOutputs);
        pwmWrites.clear();
        eepromWrites.clear();
        failEepromWrites = failEepromReads = false;
    }

    static void makeHwmon(int index, int outputs, const std::string& raw = "0")
    {
        fs::path dir = hwmonRoot / ("hwmon" + std::to_string(index));
        fs::create_directories(dir);
        for (int k = 1; k <= outputs; ++k)
        {
            kestrel::test::writeFile(dir / ("pwm" + std::to_string(k)),
                                     raw + "\n");
        }
    }

    static std::string pwm(int k, int index = 3)
    {
        return (hwmonRoot / ("hwmon" + std::to_string(index)) /
                ("pwm" + std::to_string(k)))
            .string();
    }

    // The fan controller's unit calls, as "Method mode".
    static std::vector<std::string> unitCalls()
    {
        std::vector<std::string> out;
        for (const auto& call : mockbus::allCalls(mockbus::systemd))
        {
            if (call.path == unitFanControl)
            {
                out.push_back(call.method + " " + call.args.at(0));
            }
        }
        return out;
    }

    static Reply send(ipmi::Cmd cmd, const Bytes& data = {})
    {
        inRequest = true;
        Reply reply = kestrel::test::send(netFn, cmd, data);
        inRequest = false;
        return reply;
    }

    // The table with the byte on either side of it.
    static Bytes table()
    {
        return kestrel::test::readEeprom(tableOffset - 1, 10);
    }

    static void setTable(const Bytes& bytes)
    {
        kestrel::test::writeEeprom(tableOffset, bytes);
    }
};

TEST_F(FanTest, AllZeroOrEmptyHandsTheFansBackToTheController)
{
    for (const Bytes& request : {Bytes{}, Bytes{0x00}, Bytes(12, 0x00)})
    {
        mockbus::clearCalls(mockbus::systemd);
        Reply r = send(cmdSetSmartFan, request);
        EXPECT_EQ(r.cc, 0x00);
        EXPECT_THAT(r.data, IsEmpty());
        EXPECT_THAT(unitCalls(), ElementsAre("Start s:replace"));
    }
    EXPECT_THAT(pwmWrites, IsEmpty());
}

TEST_F(FanTest, ManualStopsTheControllerAndWritesEachGivenOutput)
{
    Reply r = send(cmdSetSmartFan, {0x00, 0x32});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, IsEmpty());
    EXPECT_THAT(unitCalls(), ElementsAre("Stop s:replace"));
    // A zero in a manual request is the minimum duty.
    EXPECT_THAT(pwmWrites,
                ElementsAre(std::pair{pwm(1), "51"}, std::pair{pwm(2), "127"}));
    EXPECT_EQ(kestrel::test::readTextFile(pwm(3)), "0\n");
}

TEST_F(FanTest, AFailedStopWritesNoDuty)
{
    mockbus::failMethod(mockbus::systemd, unitFanControl,
                        "org.freedesktop.systemd1.Unit", "Stop", "s", "o",
                        "org.freedesktop.systemd1.NoSuchUnit", "gone");
    Reply r = send(cmdSetSmartFan, {0x50});
    EXPECT_EQ(r.cc, 0xFF);
    EXPECT_THAT(pwmWrites, IsEmpty());
}

TEST_F(FanTest, DutiesConvertBothWaysAndOutOfRangeIsRefusedByTheDriver)
{
    // Percent sent, text the driver gets, percent Get reports (-1: the
    // driver refuses the value, and the attribute shows no new duty).
    const std::vector<std::tuple<uint8_t, std::string, int>> cases = {
        {1, "51", 20},     {19, "51", 20},    {20, "51", 20},
        {50, "127", 49},   {75, "191", 74},   {100, "255", 100},
        {0x65, "257", -1}, {0xFF, "650", -1},
    };
    for (const auto& [percent, text, readBack] : cases)
    {
        SCOPED_TRACE(int(percent));
        pwmWrites.clear();
        Reply set = send(cmdSetSmartFan, {percent});
        EXPECT_EQ(set.cc, 0x00);
        EXPECT_THAT(pwmWrites, ElementsAre(std::pair{pwm(1), text}));
        if (readBack >= 0)
        {
            // Get ignores its request bytes.
            Reply get = send(cmdGetSmartFan, {0x01, 0x02});
            EXPECT_EQ(get.cc, 0x00);
            EXPECT_THAT(get.data, ElementsAre(readBack, 0, 0, 0, 0, 0, 0, 0));
        }
    }
}

TEST_F(FanTest, MoreDutiesThanOutputsWritesTheOnesTheBoardHas)
{
    Reply r = send(cmdSetSmartFan, {50, 60, 70, 80, 90, 100, 40, 30, 20});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_EQ(pwmWrites.size(), std::size_t{boardOutputs});
    // pwm7 and pwm8 do not exist: they read as 0.
    Reply get = send(cmdGetSmartFan);
    EXPECT_EQ(get.cc, 0x00);
    EXPECT_THAT(get.data, ElementsAre(49, 60, 69, 80, 89, 100, 0, 0));
}

TEST_F(FanTest, TheFirstHwmonIndexThatExistsIsUsed)
{
    makeHwmon(7, boardOutputs, "255");
    EXPECT_EQ(send(cmdSetSmartFan, {0x32}).cc, 0x00);
    EXPECT_THAT(pwmWrites, ElementsAre(std::pair{pwm(1, 3), "127"}));
    EXPECT_THAT(send(cmdGetSmartFan).data,
                ElementsAre(49, 0, 0, 0, 0, 0, 0, 0));
}

TEST_F(FanTest, WithoutTheControllerSetSucceedsAndGetHasNothingToReport)
{
    fs::remove_all(hwmonRoot);
    Reply set = send(cmdSetSmartFan, {0x32});
    EXPECT_EQ(set.cc, 0x00);
    EXPECT_THAT(unitCalls(), ElementsAre("Stop s:replace"));
    EXPECT_THAT(pwmWrites, IsEmpty());
    Reply get = send(cmdGetSmartFan);
    EXPECT_EQ(get.cc, 0xFF);
    EXPECT_THAT(get.data, IsEmpty());

    // An attribute that holds no number is an error, not a duty.
    makeHwmon(0, 1, "x");
    EXPECT_EQ(send(cmdGetSmartFan).cc, 0xFF);
}

TEST_F(FanTest, InitDutyWritesExactlyTheGivenBytesAndReadsBackTheTable)
{
    setTable({0x14, 0x14, 0x14, 0x30, 0x13, 0xFF, 0x64, 0x65});
    Reply set = send(cmdSetInitDuty, {0x14, 0x32, 0x64});
    EXPECT_EQ(set.cc, 0x00);
    EXPECT_THAT(set.data, IsEmpty());
    EXPECT_THAT(eepromWrites, ElementsAre(std::pair{tableOffset, 3u}));
    auto image = kestrel::test::readFile(EEPROM_PATH);
    EXPECT_EQ(table(), (Bytes{image[tableOffset - 1], 0x14, 0x32, 0x64, 0x30,
                              0x13, 0xFF, 0x64, 0x65, image[tableOffset + 8]}));
    // Stored bytes outside 20..100 read as 0.
    Reply get = send(cmdGetInitDuty);
    EXPECT_EQ(get.cc, 0x00);
    EXPECT_THAT(get.data, ElementsAre(0x14, 0x32, 0x64, 0x30, 0, 0, 0x64, 0));

    setTable(Bytes(8, 0xFF));
    EXPECT_THAT(send(cmdGetInitDuty).data, ElementsAre(0, 0, 0, 0, 0, 0, 0, 0));
}

TEST_F(FanTest, InitDutyChecksLengthAndRangeBeforeWriting)
{
    EXPECT_EQ(send(cmdSetInitDuty, Bytes(8, 0x64)).cc, 0x00);
    eepromWrites.clear();
    for (const Bytes& request :
         {Bytes{}, Bytes(9, 0x32), Bytes{0x13}, Bytes{0x32, 0x65},
          Bytes{0x14, 0x64, 0x32, 0x00}})
    {
        SCOPED_TRACE(request.size());
        Reply r = send(cmdSetInitDuty, request);
        EXPECT_EQ(r.cc, 0xCC);
        EXPECT_THAT(r.data, IsEmpty());
    }
    EXPECT_THAT(eepromWrites, IsEmpty());
    EXPECT_THAT(send(cmdGetInitDuty).data,
                ElementsAre(0x64, 0x64, 0x64, 0x64, 0x64, 0x64, 0x64, 0x64));
}

TEST_F(FanTest, InitDutyEepromFailuresAnswerUnspecifiedError)
{
    failEepromWrites = true;
    Reply set = send(cmdSetInitDuty, {0x32});
    EXPECT_EQ(set.cc, 0xFF);
    EXPECT_THAT(set.data, IsEmpty());
    failEepromReads = true;
    Reply get = send(cmdGetInitDuty);
    EXPECT_EQ(get.cc, 0xFF);
    EXPECT_THAT(get.data, IsEmpty());
}

} // namespace
