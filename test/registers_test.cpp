// Speaker beeps, UID / external-reset verify and register access through the
// host's dispatcher, against the sandbox's /dev/mem (a sparse file standing
// in for physical memory).
#include "provider.hpp"
#include "sandbox.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using kestrel::test::Reply;
using testing::ElementsAre;
using testing::IsEmpty;

namespace
{

constexpr ipmi::NetFn netFn = 0x3A;
constexpr ipmi::Cmd cmdSetSpeaker = 0xB4;
constexpr ipmi::Cmd cmdUidVerify = 0x69;
constexpr ipmi::Cmd cmdSetReg = 0xA2;
constexpr ipmi::Cmd cmdGetReg = 0xA3;

constexpr uint32_t speakerRegister = 0x1E786004;
constexpr uint32_t tone = 0xFF1AFF1A;
constexpr uint32_t rest = 0xFF115F05;
constexpr uint32_t registerA = 0x1E6E209C;
constexpr uint32_t registerB = 0x1E6E203C;

uint32_t peek(uint32_t address)
{
    uint32_t value = 0;
    int fd = ::open("/dev/mem", O_RDONLY);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::pread(fd, &value, sizeof(value), address), 4);
    ::close(fd);
    return value;
}

void poke(uint32_t address, uint32_t value)
{
    int fd = ::open("/dev/mem", O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, &value, sizeof(value), address), 4);
    ::close(fd);
}

// --- Seams the library's calls resolve to (the executable exports them) ---

// The speaker worker's sleeps: each is recorded with the speaker register as
// it stands when the sleep starts.  By default they return at once; with
// realSleep they sleep and record when they started.
struct Sleep
{
    uint32_t speaker;
    useconds_t us;
    std::chrono::steady_clock::time_point start;
};
std::mutex sleepsMutex;
std::vector<Sleep> sleeps;
std::atomic<bool> realSleep{false};

std::vector<Sleep> recordedSleeps()
{
    std::lock_guard lock(sleepsMutex);
    return sleeps;
}

// Register A or B can be made to ignore writes of 0, as a register whose
// event is still pending would.
std::atomic<uint32_t> stuckRegister{0};

} // namespace

extern "C" int usleep(useconds_t us)
{
    Sleep s{peek(speakerRegister), us, std::chrono::steady_clock::now()};
    {
        std::lock_guard lock(sleepsMutex);
        sleeps.push_back(s);
    }
    if (realSleep)
    {
        timespec ts{static_cast<time_t>(us / 1000000),
                    static_cast<long>(us % 1000000) * 1000};
        ::nanosleep(&ts, nullptr);
    }
    return 0;
}

extern "C" int mmap_write32(uint32_t address, uint32_t value)
{
    using Write = int (*)(uint32_t, uint32_t);
    // The provider's own libregpeek is loaded with it, not globally.
    static auto real = reinterpret_cast<Write>(::dlsym(
        ::dlopen("libregpeek.so.0", RTLD_NOW | RTLD_NOLOAD), "mmap_write32"));
    if (value == 0 && address == stuckRegister)
    {
        return 0;
    }
    return real(address, value);
}

namespace
{

class RegistersTest : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        using kestrel::test::providerSymbol;
        longBeeps = providerSymbol<uint8_t*>("SpeakerLongBeep");
        shortBeeps = providerSymbol<uint8_t*>("SpeakerShortBeep");
        ASSERT_NE(longBeeps, nullptr);
        ASSERT_NE(shortBeeps, nullptr);
    }

    void SetUp() override
    {
        {
            std::lock_guard lock(sleepsMutex);
            sleeps.clear();
        }
        realSleep = false;
        stuckRegister = 0;
        for (uint32_t r : {speakerRegister, registerA, registerB})
        {
            poke(r, 0);
        }
    }

    static Reply send(ipmi::Cmd cmd, const std::vector<uint8_t>& data)
    {
        return kestrel::test::send(netFn, cmd, data);
    }

    // The sleeps recorded once any worker has had time to start.
    static std::vector<Sleep> sleepsAfterAWhile()
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return recordedSleeps();
    }

    // Waits until the workers have slept `count` times (a worker sleeps
    // last, so its register writes are over by then).
    static std::vector<Sleep> waitForSleeps(std::size_t count)
    {
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (recordedSleeps().size() < count &&
               std::chrono::steady_clock::now() < deadline)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // Let a worker that would sleep more do so before the check.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return recordedSleeps();
    }

    static inline uint8_t* longBeeps = nullptr;
    static inline uint8_t* shortBeeps = nullptr;
};

MATCHER_P2(IsSleep, speaker, us, "")
{
    return arg.speaker == speaker && arg.us == static_cast<useconds_t>(us);
}

TEST_F(RegistersTest, SpeakerPlaysOneLongAndTwoShortBeeps)
{
    Reply r = send(cmdSetSpeaker, {0x01, 0x02});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, IsEmpty());
    EXPECT_EQ(*longBeeps, 1);
    EXPECT_EQ(*shortBeeps, 2);
    EXPECT_THAT(waitForSleeps(6),
                ElementsAre(IsSleep(tone, 600000), IsSleep(rest, 300000),
                            IsSleep(tone, 200000), IsSleep(rest, 300000),
                            IsSleep(tone, 200000), IsSleep(rest, 300000)));
    EXPECT_EQ(peek(speakerRegister), rest);
}

TEST_F(RegistersTest, SpeakerAnswersAtOnceAndKeepsTheBeat)
{
    realSleep = true;
    auto start = std::chrono::steady_clock::now();
    Reply r = send(cmdSetSpeaker, {0x01, 0x01});
    auto answered = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_LT(answered, std::chrono::milliseconds(300));
    auto s = waitForSleeps(4);
    ASSERT_EQ(s.size(), 4u);
    // Generous bounds: a busy shared machine may add delay, never remove it.
    using std::chrono::milliseconds;
    const milliseconds expected[] = {milliseconds(600), milliseconds(300),
                                     milliseconds(200)};
    for (std::size_t i = 0; i < 3; ++i)
    {
        auto gap = s[i + 1].start - s[i].start;
        EXPECT_GE(gap, expected[i]) << "gap " << i;
        EXPECT_LT(gap, expected[i] + milliseconds(250)) << "gap " << i;
    }
    // Let the worker finish its last rest: a worker still running would
    // play the next test's counts.
    std::this_thread::sleep_until(s[3].start + milliseconds(400));
}

TEST_F(RegistersTest, MalformedSpeakerRequestsPlayNothingAndKeepTheCounts)
{
    ASSERT_EQ(send(cmdSetSpeaker, {0x03, 0x0B}).cc, 0x00);
    waitForSleeps(3 * 2 + 11 * 2);
    {
        std::lock_guard lock(sleepsMutex);
        sleeps.clear();
    }
    poke(speakerRegister, 0x5A5A5A5A);
    for (const auto& request :
         {std::vector<uint8_t>{0x04, 0x00}, std::vector<uint8_t>{0x00, 0x0C},
          std::vector<uint8_t>{0x01, 0x01, 0x01}, std::vector<uint8_t>{0x01}})
    {
        Reply r = send(cmdSetSpeaker, request);
        EXPECT_EQ(r.cc, 0x00);
        EXPECT_THAT(r.data, IsEmpty());
    }
    EXPECT_EQ(*longBeeps, 3);
    EXPECT_EQ(*shortBeeps, 11);
    EXPECT_THAT(sleepsAfterAWhile(), IsEmpty());
    EXPECT_EQ(peek(speakerRegister), 0x5A5A5A5Au);
}

TEST_F(RegistersTest, SilentPatternNeverTouchesTheSpeaker)
{
    poke(speakerRegister, 0x5A5A5A5A);
    EXPECT_EQ(send(cmdSetSpeaker, {0x00, 0x00}).cc, 0x00);
    EXPECT_EQ(*longBeeps, 0);
    EXPECT_EQ(*shortBeeps, 0);
    EXPECT_THAT(sleepsAfterAWhile(), IsEmpty());
    EXPECT_EQ(peek(speakerRegister), 0x5A5A5A5Au);
}

TEST_F(RegistersTest, UidVerifySavesClearsReadsAndRestores)
{
    // Nothing saved yet (register A was 0 at every save so far).
    EXPECT_EQ(send(cmdUidVerify, {0x00}).cc, 0x00);
    EXPECT_EQ(send(cmdUidVerify, {0x02}).cc, 0xCC);

    poke(registerA, 0x00000011);
    poke(registerB, 0x00000002);
    EXPECT_THAT(send(cmdUidVerify, {0x01}).data, ElementsAre(0x01));
    Reply r = send(cmdUidVerify, {0x00});
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, IsEmpty());
    EXPECT_EQ(peek(registerA), 0u);
    EXPECT_EQ(peek(registerB), 0u);
    EXPECT_THAT(send(cmdUidVerify, {0x01}).data, ElementsAre(0x00));

    // A save that finds A at 0 keeps the earlier copy.
    poke(registerB, 0x00000004);
    EXPECT_EQ(send(cmdUidVerify, {0x00}).cc, 0x00);

    // Restore may be repeated.
    for (int i = 0; i < 2; ++i)
    {
        poke(registerA, 0);
        poke(registerB, 0);
        EXPECT_EQ(send(cmdUidVerify, {0x02}).cc, 0x00);
        EXPECT_EQ(peek(registerA), 0x11u);
        EXPECT_EQ(peek(registerB), 0x02u);
    }
}

TEST_F(RegistersTest, UidVerifyReportsARegisterThatDoesNotClear)
{
    stuckRegister = registerB;
    poke(registerA, 0x1);
    poke(registerB, 0x2);
    EXPECT_EQ(send(cmdUidVerify, {0x00}).cc, 0xC1);
    EXPECT_EQ(peek(registerA), 0u);
    stuckRegister = registerA;
    poke(registerA, 0x1);
    EXPECT_EQ(send(cmdUidVerify, {0x00}).cc, 0xC1);
}

TEST_F(RegistersTest, UidVerifyRefusesOtherSubfunctionsAndAnEmptyRequest)
{
    poke(registerB, 0x2);
    for (const auto& request :
         {std::vector<uint8_t>{0x03}, std::vector<uint8_t>{0xFF}})
    {
        Reply r = send(cmdUidVerify, request);
        EXPECT_EQ(r.cc, 0xCC);
        EXPECT_THAT(r.data, IsEmpty());
    }
    EXPECT_EQ(send(cmdUidVerify, {}).cc, 0xC7);
    EXPECT_EQ(peek(registerB), 0x2u);
}

TEST_F(RegistersTest, SetRegisterWritesTheBigEndianWordAndSaysSo)
{
    testing::internal::CaptureStdout();
    Reply r = send(cmdSetReg, {0x1E, 0x6E, 0x20, 0x3C, 0x00, 0x00, 0x00, 0x02});
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, IsEmpty());
    EXPECT_EQ(peek(registerB), 0x00000002u);
    EXPECT_THAT(out,
                testing::HasSubstr("ipmiSetRegValue reg=1e6e203c,value=2\n"));

    send(cmdSetReg, {0x1E, 0x6E, 0x20, 0x9C, 0x12, 0x34, 0x56, 0x78});
    EXPECT_EQ(peek(registerA), 0x12345678u);
}

TEST_F(RegistersTest, GetRegisterAnswersTheBigEndianWordAndSaysSo)
{
    poke(registerA, 0x12345678);
    testing::internal::CaptureStdout();
    Reply r = send(cmdGetReg, {0x1E, 0x6E, 0x20, 0x9C});
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, ElementsAre(0x12, 0x34, 0x56, 0x78));
    EXPECT_THAT(out, testing::HasSubstr(
                         "ipmiGetRegValue reg=1e6e209c,value=12345678\n"));
}

TEST_F(RegistersTest, RegisterLibraryFailuresAnswerNodeBusy)
{
    // An address that is not word-aligned is refused by the library.
    Reply set =
        send(cmdSetReg, {0x1E, 0x6E, 0x20, 0x3D, 0x00, 0x00, 0x00, 0x01});
    EXPECT_EQ(set.cc, 0xC0);
    EXPECT_EQ(peek(registerB), 0u);
    Reply get = send(cmdGetReg, {0x1E, 0x6E, 0x20, 0x3D});
    EXPECT_EQ(get.cc, 0xC0);
    EXPECT_THAT(get.data, ElementsAre(0x00, 0x00, 0x00, 0x00));
}

TEST_F(RegistersTest, ShortRegisterRequestsAreRefused)
{
    poke(registerB, 0x7);
    EXPECT_EQ(send(cmdSetReg, {0x1E, 0x6E, 0x20, 0x3C, 0x00, 0x00, 0x00}).cc,
              0xC7);
    EXPECT_EQ(peek(registerB), 0x7u);
    Reply r = send(cmdGetReg, {0x1E, 0x6E, 0x20});
    EXPECT_EQ(r.cc, 0xC7);
    EXPECT_THAT(r.data, IsEmpty());
}

} // namespace
