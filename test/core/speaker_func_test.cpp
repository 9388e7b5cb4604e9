// Speaker beeps: the request's pattern, and the worker playing it on a fake
// speaker whose sleeps return at once.
#include "fakes.hpp"
#include "speaker_func.hpp"

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using speaker_func::playPattern;
using speaker_func::setSpeakerFunc;
using testing::ElementsAre;
using testing::IsEmpty;

constexpr auto tone = "write 0xff1aff1a";
constexpr auto rest = "write 0xff115f05";

struct FakeSpeaker : speaker_func::Speaker
{
    std::vector<std::string> events;
    /** Runs at each sleep, after it is recorded. */
    std::function<void()> onSleep;

    void write(uint32_t value) override
    {
        char text[32];
        std::snprintf(text, sizeof(text), "write 0x%x", value);
        events.emplace_back(text);
    }
    void sleep(uint32_t microseconds) override
    {
        events.push_back("sleep " + std::to_string(microseconds));
        if (onSleep)
        {
            onSleep();
        }
    }
};

/** Plays the pattern on the spot, as the detached worker would later. */
struct FakeWorker : speaker_func::Worker
{
    std::atomic<uint8_t>* longBeeps = nullptr;
    std::atomic<uint8_t>* shortBeeps = nullptr;
    FakeSpeaker speaker;
    int starts = 0;
    bool fail = false;

    void start() override
    {
        ++starts;
        if (fail)
        {
            throw std::system_error(std::make_error_code(
                std::errc::resource_unavailable_try_again));
        }
        playPattern(*longBeeps, *shortBeeps, speaker);
    }
};

struct SpeakerFunc : testing::Test
{
    std::atomic<uint8_t> longBeeps{2};
    std::atomic<uint8_t> shortBeeps{5};
    FakeWorker worker;

    SpeakerFunc()
    {
        worker.longBeeps = &longBeeps;
        worker.shortBeeps = &shortBeeps;
    }
};

TEST_F(SpeakerFunc, MalformedPatternsAreAcceptedAndIgnored)
{
    const Case cases[] = {
        {"empty", {}, success()},
        {"one byte", {0x01}, success()},
        {"trailing", {0x01, 0x01, 0x00}, success()},
        {"four long beeps", {0x04, 0x00}, success()},
        {"twelve short beeps", {0x00, 0x0C}, success()},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(setSpeakerFunc(c.request, longBeeps, shortBeeps, worker),
                  c.expected)
            << c.name;
    }
    EXPECT_EQ(worker.starts, 0);
    EXPECT_EQ(longBeeps, 2);
    EXPECT_EQ(shortBeeps, 5);
}

TEST_F(SpeakerFunc, PlaysLongBeepsThenShortBeeps)
{
    EXPECT_EQ(setSpeakerFunc(Bytes{0x01, 0x02}, longBeeps, shortBeeps, worker),
              success());
    EXPECT_EQ(worker.starts, 1);
    EXPECT_EQ(longBeeps, 1);
    EXPECT_EQ(shortBeeps, 2);
    EXPECT_THAT(worker.speaker.events,
                ElementsAre(tone, "sleep 600000", rest, "sleep 300000", tone,
                            "sleep 200000", rest, "sleep 300000", tone,
                            "sleep 200000", rest, "sleep 300000"));
}

TEST_F(SpeakerFunc, LongestPatternAndSilence)
{
    EXPECT_EQ(setSpeakerFunc(Bytes{0x03, 0x0B}, longBeeps, shortBeeps, worker),
              success());
    EXPECT_EQ(worker.speaker.events.size(), (3u + 11u) * 4u);

    worker.speaker.events.clear();
    EXPECT_EQ(setSpeakerFunc(Bytes{0x00, 0x00}, longBeeps, shortBeeps, worker),
              success());
    EXPECT_EQ(worker.starts, 2);
    EXPECT_THAT(worker.speaker.events, IsEmpty());
}

TEST_F(SpeakerFunc, ANewerPatternGovernsOneAlreadyPlaying)
{
    longBeeps = 3;
    shortBeeps = 0;
    FakeSpeaker speaker;
    // During the first long tone another request asks for one long beep.
    speaker.onSleep = [this] { longBeeps = 1; };
    playPattern(longBeeps, shortBeeps, speaker);
    EXPECT_THAT(speaker.events,
                ElementsAre(tone, "sleep 600000", rest, "sleep 300000"));
}

TEST_F(SpeakerFunc, NoThreadStillAcceptsThePattern)
{
    worker.fail = true;
    EXPECT_EQ(setSpeakerFunc(Bytes{0x02, 0x03}, longBeeps, shortBeeps, worker),
              success());
    EXPECT_EQ(worker.starts, 1);
    EXPECT_EQ(longBeeps, 2);
    EXPECT_EQ(shortBeeps, 3);
    EXPECT_THAT(worker.speaker.events, IsEmpty());
}

} // namespace
} // namespace kestrel::test
