// NC-SI select against a fake sideband store and shell that log, in one
// sequence, what they were asked.
#include "fakes.hpp"
#include "ncsi_select.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using ncsi_select::getNcsiSelect;
using ncsi_select::MacCommands;
using ncsi_select::setNcsiSelect;
using testing::ElementsAre;
using testing::IsEmpty;

struct Effects : ncsi_select::SidebandStore, Shell
{
    std::vector<std::string> log;
    int stored = 0;
    int setResult = 0;
    int shellStatus = 0;

    int port() override
    {
        log.push_back("get");
        return stored;
    }
    int setPort(uint8_t port) override
    {
        log.push_back("set " + std::to_string(port));
        if (setResult == 0)
        {
            stored = port;
        }
        return setResult;
    }
    int run(const char* command) override
    {
        log.push_back(command);
        return shellStatus;
    }
};

const MacCommands commands{"unbind-cmd", "bind-cmd", "restart-cmd"};

Answer set(Effects& fx, const Bytes& request)
{
    return setNcsiSelect(request, fx, fx, commands);
}

TEST(NcsiSelect, SetRunsEveryStepInOrder)
{
    const struct
    {
        const char* name;
        Bytes request;
        std::string stored;
        int shellStatus; // of no consequence
    } cases[] = {
        {"port 0", {0x00}, "set 0", 0},
        {"port 1", {0x01}, "set 1", 1},
        {"port 255", {0xFF}, "set 255", -1},
        {"trailing", {0x02, 0x09, 0x09}, "set 2", 127},
    };
    for (const auto& c : cases)
    {
        Effects fx;
        fx.shellStatus = c.shellStatus;
        EXPECT_EQ(set(fx, c.request), success()) << c.name;
        EXPECT_THAT(fx.log, ElementsAre("unbind-cmd", c.stored, "bind-cmd",
                                        "restart-cmd"))
            << c.name;
    }
}

TEST(NcsiSelect, EmptySetDoesNothing)
{
    Effects fx;
    EXPECT_EQ(set(fx, {}), failure(0xC7));
    EXPECT_THAT(fx.log, IsEmpty());
}

TEST(NcsiSelect, FailedStoreStillBringsTheMacBack)
{
    Effects fx;
    fx.setResult = -EIO;
    fx.stored = 4;
    EXPECT_EQ(set(fx, {0x01}), failure(0xFF));
    EXPECT_THAT(fx.log,
                ElementsAre("unbind-cmd", "set 1", "bind-cmd", "restart-cmd"));
    EXPECT_EQ(getNcsiSelect({}, fx), success({0x04}));
}

TEST(NcsiSelect, GetReportsTheLowByteOrFails)
{
    const std::pair<int, Answer> cases[] = {
        {0, success({0x00})},     {3, success({0x03})},
        {0x1FF, success({0xFF})}, {-EIO, failure(0xFF)},
        {-ENOENT, failure(0xFF)},
    };
    for (const auto& [stored, expected] : cases)
    {
        Effects fx;
        fx.stored = stored;
        EXPECT_EQ(getNcsiSelect({}, fx), expected) << stored;
        // Request bytes play no part.
        EXPECT_EQ(getNcsiSelect(Bytes{0x07, 0x08}, fx), expected) << stored;
        EXPECT_THAT(fx.log, ElementsAre("get", "get"));
    }
}

} // namespace
} // namespace kestrel::test
