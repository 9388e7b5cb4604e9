// boardpilot: the platform key from the EEPROM record, the configured
// commands, and the program end to end in the sandbox.
#include "chassis_record.hpp"
#include "platform.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using kestrel::chassis::Record;
using testing::ElementsAre;
using testing::HasSubstr;

namespace
{

Record recordOf(const std::string& id, uint8_t fill = 0x00)
{
    Record r;
    r.fill(fill);
    uint8_t sum = 0;
    for (std::size_t i = 0; i < id.size(); ++i)
    {
        r[i] = static_cast<uint8_t>(id[i]);
        sum = static_cast<uint8_t>(sum + r[i]);
    }
    if (id.size() < 31)
    {
        r[id.size()] = 0x00;
    }
    r[31] = static_cast<uint8_t>(0x100 - sum);
    return r;
}

TEST(PlatformKey, ValidRecordsNameThePlatformAndAreLogged)
{
    auto mark = kestrel::test::journalMark();
    // Bytes past the terminator are neither summed nor part of the key.
    EXPECT_EQ(boardpilot::platformKey(recordOf("AB", 0x5A)), "AB");
    auto set = kestrel::test::waitForJournal("Chassis ID set", mark);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->fields.at("CHASSIS_ID"), "AB");
    EXPECT_EQ(set->fields.at("PRIORITY"), "6");

    std::string id31(31, 'Z');
    EXPECT_EQ(boardpilot::platformKey(recordOf(id31)), id31);
}

TEST(PlatformKey, UnsetErasedOrCorruptRecordsFallBackToDefault)
{
    Record erased;
    erased.fill(0xFF);
    Record unset = recordOf("AB");
    unset[0] = 0x00;
    Record corrupt = recordOf("AB");
    corrupt[31] = 0x7C;
    for (const Record& r : {erased, unset, corrupt})
    {
        auto mark = kestrel::test::journalMark();
        EXPECT_EQ(boardpilot::platformKey(r), "VRKL");
        auto entry = kestrel::test::waitForJournal(
            "Chassis ID not set, default platform", mark);
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->fields.at("PRIORITY"), "6");
    }
}

std::vector<std::string> runConfig(const std::string& json,
                                   const std::string& key)
{
    std::istringstream in(json);
    std::vector<std::string> ran;
    boardpilot::runPlatformCommands(
        in, key, [&ran](const std::string& cmd) { ran.push_back(cmd); });
    return ran;
}

TEST(PlatformCommands, EveryMatchingEntryRunsInFileOrder)
{
    const std::string config = R"({"platforms": [
        {"chassisid": "AB", "run": "first"},
        {"chassisid": "ABC", "run": "longer key"},
        {"chassisid": "AB", "run": "second"},
        {"run": "no id"},
        {"chassisid": "AB"}
    ], "other": 1})";
    auto mark = kestrel::test::journalMark();
    EXPECT_THAT(runConfig(config, "AB"), ElementsAre("first", "second", ""));
    // The last of the three entries, then all of them.
    ASSERT_TRUE(kestrel::test::waitForJournal(
        [](const auto& e) {
            return e.message() == "chassisid run" && e.has("RUN") &&
                   e["RUN"].empty();
        },
        mark));
    auto logged = kestrel::test::journalSince(mark);
    std::vector<std::string> runs;
    for (const auto& e : logged)
    {
        if (e.fields.at("MESSAGE") == "chassisid run")
        {
            runs.push_back(e.fields.at("RUN"));
        }
    }
    EXPECT_THAT(runs, ElementsAre("first", "second", ""));

    // An entry without "chassisid" matches the empty key only.
    EXPECT_THAT(runConfig(config, ""), ElementsAre("no id"));
}

TEST(PlatformCommands, AbsentOrObjectShapedPlatforms)
{
    EXPECT_TRUE(runConfig(R"({})", "VRKL").empty());
    EXPECT_TRUE(runConfig(R"({"platforms": null})", "VRKL").empty());
    // An object is walked by member value in member-name order.
    EXPECT_THAT(runConfig(R"({"platforms": {
        "b": {"chassisid": "VRKL", "run": "two"},
        "a": {"chassisid": "VRKL", "run": "one"}}})",
                          "VRKL"),
                ElementsAre("one", "two"));
}

TEST(PlatformCommands, TypeErrorsStopAfterEarlierCommandsRan)
{
    std::vector<std::string> ran;
    auto runInto = [&ran](const std::string& json) {
        std::istringstream in(json);
        boardpilot::runPlatformCommands(
            in, "AB", [&ran](const std::string& cmd) { ran.push_back(cmd); });
    };
    EXPECT_THROW(runInto(R"({"platforms": [{"chassisid": "AB", "run": "ok"},
        {"chassisid": 7}, {"chassisid": "AB", "run": "never"}]})"),
                 nlohmann::json::type_error);
    EXPECT_THAT(ran, ElementsAre("ok"));

    EXPECT_THROW(runInto(R"({"platforms": ["AB"]})"),
                 nlohmann::json::type_error);
    EXPECT_THROW(runInto(R"({"platforms": [{"chassisid": "AB", "run": 1}]})"),
                 nlohmann::json::type_error);
    EXPECT_THROW(runInto(R"([1, 2])"), nlohmann::json::type_error);
    EXPECT_THROW(runInto(R"({"platforms": [] /* comment */})"),
                 nlohmann::json::parse_error);
}

// The program itself: EEPROM image and configuration at their fixed paths.
class BoardpilotProgram : public testing::Test
{
  protected:
    void SetUp() override
    {
        ran = kestrel::test::tempDir() / "ran";
        fs::create_directories(fs::path(BOARDPILOT_CONFIG).parent_path());
    }

    void configure(const std::string& body)
    {
        kestrel::test::writeFile(BOARDPILOT_CONFIG, body);
    }

    std::string command(const std::string& word)
    {
        return "echo " + word + " >> " + ran.string();
    }

    void writeRecord(const Record& rec)
    {
        kestrel::test::writeEeprom(kestrel::chassis::recordOffset, rec);
    }

    std::string ranText()
    {
        if (!fs::exists(ran))
        {
            return "";
        }
        auto b = kestrel::test::readFile(ran);
        return {b.begin(), b.end()};
    }

    int runProgram(std::string* err = nullptr)
    {
        int status = -1;
        std::string out = kestrel::test::runCapture(
            {"/bin/sh", "-c", std::string(BOARDPILOT_EXE) + " 2>&1"}, &status);
        if (err != nullptr)
        {
            *err = out;
        }
        return status;
    }

    fs::path ran;
};

TEST_F(BoardpilotProgram, ErasedEepromRunsTheDefaultPlatform)
{
    Record erased;
    erased.fill(0xFF);
    writeRecord(erased);
    // A failing command does not stop the entries after it.
    configure(R"({"platforms": [{"chassisid": "VRKL", "run": "exit 3"},
        {"chassisid": "VRKL", "run": ")" +
              command("default") + R"("},
        {"chassisid": "OTHER", "run": ")" +
              command("other") + R"("}]})");
    EXPECT_EQ(runProgram(), 0);
    EXPECT_EQ(ranText(), "default\n");
}

TEST_F(BoardpilotProgram, ChassisIdSetOverIpmiSelectsThePlatform)
{
    ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    std::vector<uint8_t> id{'K', 'S', 'T', '1'};
    ASSERT_EQ(kestrel::test::send(0x3A, 0xAA, id).cc, 0x00);

    configure(R"({"platforms": [{"chassisid": "KST1", "run": ")" +
              command("kst1") + R"("},
        {"chassisid": "VRKL", "run": ")" +
              command("default") + R"("}]})");
    auto mark = kestrel::test::journalMark();
    EXPECT_EQ(runProgram(), 0);
    EXPECT_EQ(ranText(), "kst1\n");
    auto set = kestrel::test::waitForJournal("Chassis ID set", mark);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->fields.at("CHASSIS_ID"), "KST1");
    auto run = kestrel::test::waitForJournal("chassisid run", mark);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->fields.at("RUN"), command("kst1"));
}

TEST_F(BoardpilotProgram, BrokenConfigurationFailsWithTheJsonMessage)
{
    writeRecord(recordOf("AB"));
    configure(R"({"platforms": [{"chassisid": "AB", "run": ")" +
              command("before") + R"("}, {"chassisid": false}]})");
    std::string err;
    EXPECT_NE(runProgram(&err), 0);
    EXPECT_THAT(err, HasSubstr("[json.exception.type_error.302]"));
    EXPECT_EQ(ranText(), "before\n");

    fs::remove(BOARDPILOT_CONFIG);
    EXPECT_NE(runProgram(&err), 0);
    EXPECT_THAT(err, HasSubstr("[json.exception.parse_error.101]"));
}

} // namespace
