// boardpilot: the configured commands, and the program end to end.
#include "chassis_record.hpp"
#include "platform.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <algorithm>
#include <filesystem>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace kestrel::test;
using testing::HasSubstr;

TEST(PlatformCommands, ObjectPlatformsRunInMemberNameOrder)
{
    std::istringstream config(R"({"platforms": {
        "b": {"chassisid": "K", "run": "two"},
        "a": {"chassisid": "K", "run": "one"}, "c": {"chassisid": "K"}}})");
    std::vector<std::string> ran;
    boardpilot::runPlatformCommands(
        config, "K", [&ran](const std::string& cmd) { ran.push_back(cmd); });
    EXPECT_EQ(ran, (std::vector<std::string>{"one", "two", ""}));
}

// The program with this configuration at its fixed path, on the EEPROM
// image; the commands it runs print to its stdout.
static RunResult runBoardpilot(const std::string& config)
{
    fs::create_directories(fs::path(BOARDPILOT_CONFIG).parent_path());
    writeFile(BOARDPILOT_CONFIG, config);
    return run({BOARDPILOT_EXE});
}

TEST(Boardpilot, TheChassisIdSelectsThePlatformABrokenConfigurationFails)
{
    // A failing command does not stop the entries after it.
    const std::string config = R"({"platforms": [
        {"chassisid": "VRKL", "run": "exit 3"},
        {"chassisid": "VRKL", "run": "echo default"},
        {"chassisid": "KST1", "run": "echo kst1"}]})";
    eraseEeprom(kestrel::chassis::recordOffset, 32);
    auto mark = journalMark();
    auto r = runBoardpilot(config);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "default\n");
    auto unset = waitForJournal("Chassis ID not set, default platform", mark);
    ASSERT_TRUE(unset);
    EXPECT_EQ((*unset)["PRIORITY"], "6");

    // One set over IPMI.
    ASSERT_EQ(ask(0xAA, {'K', 'S', 'T', '1'}), Bytes{0x00});
    mark = journalMark();
    r = runBoardpilot(config);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "kst1\n");
    auto set = waitForJournal("Chassis ID set", mark);
    ASSERT_TRUE(set);
    EXPECT_EQ((*set)["CHASSIS_ID"], "KST1");
    auto logged = waitForJournal("chassisid run", mark);
    ASSERT_TRUE(logged);
    EXPECT_EQ((*logged)["RUN"], "echo kst1");

    // A broken configuration fails with the JSON message; bytes past the
    // terminator are neither summed nor part of the key.
    auto ab = kestrel::chassis::encodeRecord(Bytes{'A', 'B'});
    std::fill(ab.begin() + 3, ab.begin() + 31, 0x5A);
    writeEeprom(kestrel::chassis::recordOffset, ab);
    r = runBoardpilot(
        R"({"platforms": [{"chassisid": "AB", "run": "echo before"},
        {"chassisid": false}]})");
    EXPECT_NE(r.status, 0);
    EXPECT_THAT(r.err, HasSubstr("[json.exception.type_error.302]"));
    EXPECT_EQ(r.out, "before\n");
}
