// Restore default against fake actions, sleep and shell; nothing here
// starts a thread or runs a shutdown.
#include "fakes.hpp"
#include "restore_default.hpp"

#include <climits>
#include <set>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using restore_default::delayShutdown;
using restore_default::restoreDefault;
using testing::ElementsAre;
using testing::IsEmpty;

/** Every effect goes into one log; the actions named in `failing` report
 *  failure. */
struct Effects : restore_default::RestoreActions, restore_default::Sleep, Shell
{
    std::vector<std::string> log;
    std::set<std::string> failing;
    int shellStatus = 0;

    bool act(const std::string& name)
    {
        log.push_back(name);
        return !failing.contains(name);
    }
    void bmcBootedLedOff() override
    {
        act("led off");
    }
    bool factoryReset() override
    {
        return act("reset");
    }
    bool bmcReboot() override
    {
        return act("reboot");
    }
    bool chassisOff() override
    {
        return act("power off");
    }
    bool startDelayedShutdown(int32_t seconds) override
    {
        return act("shutdown in " + std::to_string(seconds));
    }
    void wait(int32_t seconds) override
    {
        log.push_back("sleep " + std::to_string(seconds));
    }
    int run(const char* command) override
    {
        log.push_back(std::string("run ") + command);
        return shellStatus;
    }
};

using Log = std::vector<std::string>;

TEST(RestoreDefault, EachOptionsActionsInOrder)
{
    const struct
    {
        std::optional<uint8_t> option;
        Answer expected;
        Log log;
    } cases[] = {
        {std::nullopt, success(), {"led off", "reset", "reboot"}},
        {0x01, success(), {"led off", "reset", "reboot"}},
        {0x02, success(), {"led off", "reset", "shutdown in 7"}},
        {0x03, success(), {"shutdown in 7"}},
        {0x04, success(), {"power off", "shutdown in 7"}},
        {0x05, success(), {"reset"}},
        {0x00, failure(0xCC), {}},
        {0x06, failure(0xCC), {}},
        {0xFF, failure(0xCC), {}},
    };
    for (const auto& c : cases)
    {
        Effects fx;
        EXPECT_EQ(restoreDefault(c.option, fx, 7), c.expected)
            << testing::PrintToString(c.option);
        EXPECT_EQ(fx.log, c.log) << testing::PrintToString(c.option);
    }
}

TEST(RestoreDefault, FailuresStillRunEveryAction)
{
    const struct
    {
        uint8_t option;
        std::string failing;
        Answer expected;
        Log log;
    } cases[] = {
        {0x01, "reset", failure(0xFF), {"led off", "reset", "reboot"}},
        {0x01, "reboot", failure(0xFF), {"led off", "reset", "reboot"}},
        // The LED write's result is not looked at.
        {0x01, "led off", success(), {"led off", "reset", "reboot"}},
        {0x02, "reset", failure(0xFF), {"led off", "reset", "shutdown in 1"}},
        {0x02,
         "shutdown in 1",
         failure(0xFF),
         {"led off", "reset", "shutdown in 1"}},
        {0x03, "shutdown in 1", failure(0xFF), {"shutdown in 1"}},
        {0x04, "power off", failure(0xFF), {"power off", "shutdown in 1"}},
        {0x05, "reset", failure(0xFF), {"reset"}},
    };
    for (const auto& c : cases)
    {
        Effects fx;
        fx.failing = {c.failing};
        EXPECT_EQ(restoreDefault(c.option, fx, 1), c.expected)
            << unsigned{c.option} << " " << c.failing;
        EXPECT_EQ(fx.log, c.log) << unsigned{c.option} << " " << c.failing;
    }
}

TEST(RestoreDefault, DelayShutdownSleepsOnlyForAPositiveCountThenRuns)
{
    const std::pair<int32_t, Log> cases[] = {
        {1, {"sleep 1", "run shutdown"}},
        {INT32_MAX, {"sleep 2147483647", "run shutdown"}},
        {0, {"run shutdown"}},
        {-1, {"run shutdown"}},
        {INT32_MIN, {"run shutdown"}},
    };
    for (const auto& [seconds, log] : cases)
    {
        // The shell's status comes back, whatever it is.
        Effects fx;
        fx.shellStatus = seconds > 0 ? 3 : -1;
        EXPECT_EQ(delayShutdown(seconds, fx, fx), fx.shellStatus) << seconds;
        EXPECT_EQ(fx.log, log) << seconds;
    }
}

} // namespace
} // namespace kestrel::test
