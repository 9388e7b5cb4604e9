// boardpilot: the configured commands, and the program end to end.
#include "chassis_record.hpp"
#include "platform.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using kestrel::chassis::Record;
using testing::ElementsAre;
using testing::HasSubstr;

namespace
{

TEST(PlatformCommands, ObjectPlatformsRunInMemberNameOrder)
{
    std::istringstream config(R"({"platforms": {
        "b": {"chassisid": "K", "run": "two"},
        "a": {"chassisid": "K", "run": "one"}, "c": {"chassisid": "K"}}})");
    std::vector<std::string> ran;
    boardpilot::runPlatformCommands(
        config, "K", [&ran](const std::string& cmd) { ran.push_back(cmd); });
    EXPECT_THAT(ran, ElementsAre("one", "two", ""));
}

// The program itself, with the EEPROM image and configuration at their fixed
// paths; its commands append to $RAN.
struct BoardpilotProgram : testing::Test
{
    fs::path ran = kestrel::test::tempDir() / "ran";
    std::string ranText;

    // Runs the program on this configuration, or on none when empty.
    kestrel::test::RunResult run(const std::string& config)
    {
        fs::create_directories(fs::path(BOARDPILOT_CONFIG).parent_path());
        fs::remove(BOARDPILOT_CONFIG);
        if (!config.empty())
        {
            kestrel::test::writeFile(BOARDPILOT_CONFIG, config);
        }
        ::setenv("RAN", ran.c_str(), 1);
        auto result = kestrel::test::run({BOARDPILOT_EXE});
        ranText = fs::exists(ran) ? kestrel::test::readTextFile(ran) : "";
        return result;
    }
};

TEST_F(BoardpilotProgram, ErasedEepromRunsTheDefaultPlatform)
{
    kestrel::test::eraseEeprom(kestrel::chassis::recordOffset, 32);
    auto mark = kestrel::test::journalMark();
    // A failing command does not stop the entries after it.
    EXPECT_EQ(run(R"({"platforms": [{"chassisid": "VRKL", "run": "exit 3"},
        {"chassisid": "VRKL", "run": "echo default >> $RAN"},
        {"chassisid": "OTHER", "run": "echo other >> $RAN"}]})")
                  .status,
              0);
    EXPECT_EQ(ranText, "default\n");
    auto unset = kestrel::test::waitForJournal(
        "Chassis ID not set, default platform", mark);
    ASSERT_TRUE(unset);
    EXPECT_EQ((*unset)["PRIORITY"], "6");
}

TEST_F(BoardpilotProgram, ChassisIdSetOverIpmiSelectsThePlatform)
{
    ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    ASSERT_EQ(kestrel::test::send(0x3A, 0xAA, {'K', 'S', 'T', '1'}).cc, 0x00);
    auto mark = kestrel::test::journalMark();
    EXPECT_EQ(
        run(R"({"platforms": [{"chassisid": "KST1", "run": "echo kst1 >> $RAN"},
        {"chassisid": "VRKL", "run": "echo default >> $RAN"}]})")
            .status,
        0);
    EXPECT_EQ(ranText, "kst1\n");
    auto set = kestrel::test::waitForJournal("Chassis ID set", mark);
    ASSERT_TRUE(set);
    EXPECT_EQ((*set)["CHASSIS_ID"], "KST1");
    EXPECT_EQ((*set)["PRIORITY"], "6");
    auto logged = kestrel::test::waitForJournal("chassisid run", mark);
    ASSERT_TRUE(logged);
    EXPECT_EQ((*logged)["RUN"], "echo kst1 >> $RAN");
}

TEST_F(BoardpilotProgram, BrokenConfigurationFailsWithTheJsonMessage)
{
    // Bytes past the terminator are neither summed nor part of the key.
    std::string id = "AB";
    Record ab = kestrel::chassis::encodeRecord(
        kestrel::test::Bytes(id.begin(), id.end()));
    std::fill(ab.begin() + 3, ab.begin() + 31, 0x5A);
    kestrel::test::writeEeprom(kestrel::chassis::recordOffset, ab);
    auto r =
        run(R"({"platforms": [{"chassisid": "AB", "run": "echo before >> $RAN"},
        {"chassisid": false}]})");
    EXPECT_NE(r.status, 0);
    EXPECT_THAT(r.err, HasSubstr("[json.exception.type_error.302]"));
    EXPECT_EQ(ranText, "before\n");
    r = run("");
    EXPECT_NE(r.status, 0);
    EXPECT_THAT(r.err, HasSubstr("[json.exception.parse_error.101]"));
}

} // namespace
