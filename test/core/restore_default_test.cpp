// Restore default; nothing here starts a thread or runs a shutdown.
#include "fakes.hpp"
#include "restore_default.hpp"

#include <climits>

namespace kestrel::test::restore_default_cases
{

using namespace restore_default;

/** Every effect goes into one log; actions fail unless `answers` says. */
struct Effects : RestoreActions, Sleep, Shell, Recorder
{
    FAKE(void, bmcBootedLedOff, ());
    FAKE(bool, factoryReset, ());
    FAKE(bool, bmcReboot, ());
    FAKE(bool, chassisOff, ());
    FAKE(bool, startDelayedShutdown, (int32_t seconds), seconds);
    FAKE(void, wait, (int32_t seconds), seconds);
    FAKE(int, run, (const char* command), command);
};

TEST(RestoreDefault, EachOptionsActionsInOrderAndTheDelayedShutdown)
{
    // Request: the option, when there is one.
    auto restore = [](Request in, auto& fx) {
        return restoreDefault(in.empty() ? std::nullopt : std::optional(in[0]),
                              fx, 7);
    };
    const std::string led = "bmcBootedLedOff", reset = "factoryReset",
                      reboot = "bmcReboot", off = "chassisOff",
                      shutdown = "startDelayedShutdown 7";
    const Case cases[] = {
        {"none", {}, ok(), {led, reset, reboot}},
        {"1", {0x01}, ok(), {led, reset, reboot}},
        {"2", {0x02}, ok(), {led, reset, shutdown}},
        {"3", {0x03}, ok(), {shutdown}},
        {"4", {0x04}, ok(), {off, shutdown}},
        {"5", {0x05}, ok(), {reset}},
        {"0", {0x00}, cc(0xCC)},
        {"6", {0x06}, cc(0xCC)},
    };
    Effects fx;
    fx.answers = {{reset, "1"}, {reboot, "1"}, {off, "1"}, {shutdown, "1"}};
    check(cases, restore, fx);
    // A failed action fails the request, and the rest still run.
    const Case failures[] = {
        {"1", {0x01}, cc(0xFF), {led, reset, reboot}},
        {"3", {0x03}, cc(0xFF), {shutdown}},
    };
    fx.answers = {{reboot, "1"}};
    check(failures, restore, fx);

    // The delayed shutdown sleeps only for a positive count.
    fx.answers = {{"run", "3"}};
    EXPECT_EQ(delayShutdown(1, fx, fx), 3);
    EXPECT_EQ(delayShutdown(0, fx, fx), 3);
    EXPECT_EQ(delayShutdown(INT32_MIN, fx, fx), 3);
    const std::string run = "run shutdown";
    EXPECT_EQ(fx.calls, (Strings{"wait 1", run, run, run}));
}

} // namespace kestrel::test::restore_default_cases
