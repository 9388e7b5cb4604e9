// The Misc command's dispatch on fake subcommand handlers.
#include "fakes.hpp"
#include "misc_cmd.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using misc_cmd::miscCmd;
using testing::ElementsAre;
using testing::IsEmpty;

struct FakeSubcommands : misc_cmd::Subcommands
{
    std::vector<std::pair<std::string, Bytes>> calls;
    Answer jedecAnswer = success({0xEF, 0x40, 0x19});
    Answer wolAnswer = failure(0xCC);

    Answer jedecId(Request data) override
    {
        calls.emplace_back("jedec", Bytes(data.begin(), data.end()));
        return jedecAnswer;
    }
    Answer wakeOnLan(Request data) override
    {
        calls.emplace_back("wol", Bytes(data.begin(), data.end()));
        return wolAnswer;
    }
};

TEST(MiscCmd, HandsTheRestOfTheRequestToTheSubcommand)
{
    FakeSubcommands subs;
    EXPECT_EQ(miscCmd(0x43, {}, subs), success({0xEF, 0x40, 0x19}));
    EXPECT_EQ(miscCmd(0x43, Bytes{0x01, 0x02}, subs),
              success({0xEF, 0x40, 0x19}));
    EXPECT_EQ(miscCmd(0xB0, Bytes{0x00, 0x01}, subs), failure(0xCC));
    subs.wolAnswer = success();
    EXPECT_EQ(miscCmd(0xB0, Bytes{0x01}, subs), success());
    EXPECT_THAT(subs.calls,
                ElementsAre(std::pair<std::string, Bytes>{"jedec", {}},
                            std::pair<std::string, Bytes>{"jedec", {1, 2}},
                            std::pair<std::string, Bytes>{"wol", {0, 1}},
                            std::pair<std::string, Bytes>{"wol", {1}}));
}

TEST(MiscCmd, OtherSubcommandsReachNoHandler)
{
    FakeSubcommands subs;
    for (uint8_t subcommand : {0x00, 0x42, 0x44, 0xAF, 0xB1, 0xFF})
    {
        EXPECT_EQ(miscCmd(subcommand, Bytes{0x00}, subs), failure(0xCC))
            << int(subcommand);
    }
    EXPECT_THAT(subs.calls, IsEmpty());
}

} // namespace
} // namespace kestrel::test
