// Restore default against fake actions, sleep and shell; nothing here
// starts a thread or runs a shutdown.
#include "fakes.hpp"
#include "restore_default.hpp"

#include <climits>
#include <set>

namespace kestrel::test::restore_default_cases
{

using namespace restore_default;

/** Every effect goes into one log; the actions in `failing` fail. */
struct Effects : RestoreActions, Sleep, Shell
{
    Strings calls;
    std::set<std::string> failing;

    bool act(const std::string& name)
    {
        calls.push_back(name);
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
        calls.push_back("sleep " + std::to_string(seconds));
    }
    int run(const char* command) override
    {
        calls.push_back(std::string("run ") + command);
        return 3;
    }
};

// Request: the option, when there is one.
Answer restore(Request in, Effects& fx)
{
    return restoreDefault(in.empty() ? std::nullopt : std::optional(in[0]), fx,
                          7);
}

TEST(RestoreDefault, EachOptionsActionsInOrder)
{
    const Case cases[] = {
        {"none", {}, success(), {"led off", "reset", "reboot"}},
        {"1", {0x01}, success(), {"led off", "reset", "reboot"}},
        {"2", {0x02}, success(), {"led off", "reset", "shutdown in 7"}},
        {"3", {0x03}, success(), {"shutdown in 7"}},
        {"4", {0x04}, success(), {"power off", "shutdown in 7"}},
        {"5", {0x05}, success(), {"reset"}},
        {"0", {0x00}, failure(0xCC)},
        {"6", {0x06}, failure(0xCC)},
    };
    check<Effects>(cases, restore);
}

TEST(RestoreDefault, FailuresStillRunEveryAction)
{
    Effects fx;
    fx.failing = {"reset", "shutdown in 7", "power off"};
    const Case cases[] = {
        {"1", {0x01}, failure(0xFF), {"led off", "reset", "reboot"}},
        {"3", {0x03}, failure(0xFF), {"shutdown in 7"}},
        {"4", {0x04}, failure(0xFF), {"power off", "shutdown in 7"}},
        {"5", {0x05}, failure(0xFF), {"reset"}},
    };
    check(cases, restore, fx);
    // The LED write's result is not looked at.
    fx.failing = {"led off"};
    EXPECT_EQ(restore(Bytes{0x02}, fx), success());
}

TEST(RestoreDefault, DelayShutdownSleepsOnlyForAPositiveCount)
{
    const std::pair<int32_t, Strings> cases[] = {
        {1, {"sleep 1", "run shutdown"}},
        {0, {"run shutdown"}},
        {INT32_MIN, {"run shutdown"}},
    };
    for (const auto& [seconds, calls] : cases)
    {
        Effects fx;
        EXPECT_EQ(delayShutdown(seconds, fx, fx), 3) << seconds;
        EXPECT_EQ(fx.calls, calls) << seconds;
    }
}

} // namespace kestrel::test::restore_default_cases
