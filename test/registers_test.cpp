// Speaker beeps and register access through the host's dispatcher, against
// the sandbox's /dev/mem (a sparse file); docs/commands.md shows the UID /
// external-reset verify on the same registers.
#include "provider.hpp"
#include "sandbox.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include <gmock/gmock.h>

using namespace kestrel::test;
using testing::ElementsAre;

constexpr uint32_t speaker = 0x1E786004, regA = 0x1E6E209C, regB = 0x1E6E203C;

/** The word at `address`, after writing `value` there when one is given. */
static uint32_t mem(uint32_t address, std::optional<uint32_t> value = {})
{
    int fd = ::open("/dev/mem", O_RDWR);
    uint32_t word = value.value_or(0);
    EXPECT_EQ(value ? ::pwrite(fd, &word, 4, address)
                    : ::pread(fd, &word, 4, address),
              4);
    ::close(fd);
    return word;
}

// The speaker worker's sleeps resolve here (the executable exports it): each
// records the speaker register and its length, and waits while held.
static std::mutex sleepsMutex;
static std::vector<std::pair<uint32_t, useconds_t>> sleeps;
static std::atomic<std::size_t> slept{0};
static std::atomic<bool> holdSleeps{false};

extern "C" int usleep(useconds_t us)
{
    {
        std::lock_guard lock(sleepsMutex);
        sleeps.emplace_back(mem(speaker), us);
    }
    ++slept;
    waitUntil([] { return !holdSleeps; });
    return 0;
}

// The speaker answers first, then plays one long and one short beep.
TEST(RegistersTest, SpeakerAndRegisterAccessReachTheRegisters)
{
    holdSleeps = true;
    EXPECT_THAT(ask(0xB4, {0x01, 0x01}), ElementsAre(0x00));
    EXPECT_LE(slept, 1u); // still in its first tone
    holdSleeps = false;
    waitUntil([] { return slept >= 4; });
    constexpr uint32_t tone = 0xFF1AFF1A, rest = 0xFF115F05;
    std::lock_guard lock(sleepsMutex);
    EXPECT_THAT(sleeps,
                ElementsAre(std::pair{tone, 600000u}, std::pair{rest, 300000u},
                            std::pair{tone, 200000u},
                            std::pair{rest, 300000u}));
    EXPECT_EQ(mem(speaker), rest);

    // Register access uses the big-endian word and says so.
    mem(regA, 0x12345678);
    testing::internal::CaptureStdout();
    EXPECT_THAT(ask(0xA2, {0x1E, 0x6E, 0x20, 0x3C, 0x00, 0x00, 0x00, 0x02}),
                ElementsAre(0x00));
    EXPECT_THAT(ask(0xA3, {0x1E, 0x6E, 0x20, 0x9C}),
                ElementsAre(0x00, 0x12, 0x34, 0x56, 0x78));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(mem(regB), 0x00000002u);
    EXPECT_THAT(out, testing::HasSubstr("ipmiSetRegValue reg=1e6e203c,value=2\n"
                                        "ipmiGetRegValue reg=1e6e209c,"
                                        "value=12345678\n"));
}
