// The AM5 CPU class commands and the TJMAX rewrite of the virtual-sensor
// configuration, on a fake file, journal and service manager.
#include "am5_cpu.hpp"
#include "fakes.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using am5_cpu::getSpecCpu;
using am5_cpu::rewriteConfig;
using am5_cpu::setSpecCpu;
using am5_cpu::updateTjmax;
using testing::ElementsAre;
using testing::IsEmpty;

struct FakeClassEffects : am5_cpu::ClassEffects
{
    std::vector<std::string> calls;
    int updateResult = 0;
    bool failRestart = false;

    int updateTjmax(int tjmax) override
    {
        calls.push_back("tjmax " + std::to_string(tjmax));
        return updateResult;
    }
    void restartVirtualSensor() override
    {
        if (failRestart)
        {
            throw BusFailure();
        }
        calls.push_back("restart");
    }
};

struct FakeConfigFile : am5_cpu::ConfigFile
{
    std::map<std::string, std::string> files;
    std::vector<std::string> replaced;
    int replaceError = 0;

    std::optional<std::string> read(const std::string& path) override
    {
        auto found = files.find(path);
        if (found == files.end())
        {
            return std::nullopt;
        }
        return found->second;
    }
    int replace(const std::string& path, const std::string& text) override
    {
        replaced.push_back(path);
        if (replaceError != 0)
        {
            return replaceError;
        }
        files[path] = text;
        return 0;
    }
};

struct FakeConfigLog : am5_cpu::ConfigLog
{
    std::vector<std::string> lines;

    void parseFailed() override
    {
        lines.push_back("parse");
    }
    void writeFailed(int err, const std::string& path) override
    {
        lines.push_back("write " + std::to_string(err) + " " + path);
    }
};

TEST(Am5Cpu, SetRequests)
{
    struct SetCase
    {
        const char* name;
        Bytes request;
        Answer expected;
        uint8_t detected;
        std::vector<std::string> calls;
    };
    constexpr uint8_t before = 0xEE;
    const SetCase cases[] = {
        {"empty", {}, failure(0xC7), before, {}},
        {"too short", {0x01}, failure(0xC7), before, {}},
        {"class 0", {0x00, 0x00}, success(), 0x00, {"tjmax 95", "restart"}},
        {"class 1, byte 0 unused",
         {0xA5, 0x01},
         success(),
         0x01,
         {"tjmax 89", "restart"}},
        {"trailing",
         {0x00, 0x01, 0x07},
         success(),
         0x01,
         {"tjmax 89", "restart"}},
        {"class 2", {0x00, 0x02}, failure(0xC1), before, {}},
        {"class 0xFF", {0x00, 0xFF}, failure(0xC1), before, {}},
    };
    for (const auto& c : cases)
    {
        uint8_t detected = before;
        FakeClassEffects effects;
        EXPECT_EQ(setSpecCpu(c.request, detected, effects), c.expected)
            << c.name;
        EXPECT_EQ(detected, c.detected) << c.name;
        EXPECT_EQ(effects.calls, c.calls) << c.name;
    }
}

TEST(Am5Cpu, SetRestartsWhateverBecameOfTheFile)
{
    uint8_t detected = 0x00;
    FakeClassEffects effects;
    effects.updateResult = -1;
    EXPECT_EQ(setSpecCpu(Bytes{0x00, 0x01}, detected, effects), success());
    EXPECT_THAT(effects.calls, ElementsAre("tjmax 89", "restart"));

    // A failing restart escapes after the class and the file are set.
    effects.calls.clear();
    effects.failRestart = true;
    EXPECT_THROW(setSpecCpu(Bytes{0x00, 0x00}, detected, effects), BusFailure);
    EXPECT_EQ(detected, 0x00);
    EXPECT_THAT(effects.calls, ElementsAre("tjmax 95"));
}

TEST(Am5Cpu, GetAnswersTheRecordedClassWhateverTheRequest)
{
    for (uint8_t detected : {0x00, 0x01})
    {
        EXPECT_EQ(getSpecCpu({}, detected), success({detected}));
        EXPECT_EQ(getSpecCpu(Bytes{0x01, 0x02, 0x03}, detected),
                  success({detected}));
    }
}

TEST(Am5Cpu, RewriteSetsEveryTjmaxAndKeepsTheRest)
{
    auto out = rewriteConfig(R"([
      {"Params": {"ConstParam": [{"ParamName": "TJMAX", "Value": 100},
                                 {"ParamName": "OFFSET", "Value": 7},
                                 {"ParamName": "TJMAX"}, 5, "TJMAX"],
                  "DbusParam": []},
       "Desc": {"Units": "\u00b0C", "Name": "M"}},
      {"Params": "none"}, {"Params": {"ConstParam": {"ParamName": "TJMAX"}}},
      {"Params": {"ConstParam": [{"ParamName": 5}]}}, 3, {}
    ])",
                             89);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(*out, R"([
    {
        "Desc": {
            "Name": "M",
            "Units": "°C"
        },
        "Params": {
            "ConstParam": [
                {
                    "ParamName": "TJMAX",
                    "Value": 89
                },
                {
                    "ParamName": "OFFSET",
                    "Value": 7
                },
                {
                    "ParamName": "TJMAX",
                    "Value": 89
                },
                5,
                "TJMAX"
            ],
            "DbusParam": []
        }
    },
    {
        "Params": "none"
    },
    {
        "Params": {
            "ConstParam": {
                "ParamName": "TJMAX"
            }
        }
    },
    {
        "Params": {
            "ConstParam": [
                {
                    "ParamName": 5
                }
            ]
        }
    },
    3,
    {}
])");

    // An object of sensors is walked like an array of them.
    EXPECT_EQ(rewriteConfig(R"({"s": {"Params": {"ConstParam":
                               [{"ParamName": "TJMAX"}]}}})",
                            95),
              R"({
    "s": {
        "Params": {
            "ConstParam": [
                {
                    "ParamName": "TJMAX",
                    "Value": 95
                }
            ]
        }
    }
})");
}

TEST(Am5Cpu, RewriteRefusesWhatItCannotParseOrWrite)
{
    for (const char* text :
         {"", "[1] [2]", "// comment\n[]", "[{\"Params\": {}", "[\"\xff\"]"})
    {
        EXPECT_EQ(rewriteConfig(text, 95), std::nullopt) << text;
    }
}

TEST(Am5Cpu, UpdateTjmaxOutcomes)
{
    const std::string path = "/scratch/config.json";
    const std::string valid =
        R"([{"Params": {"ConstParam": [{"ParamName": "TJMAX"}]}}])";
    const std::string written = *rewriteConfig(valid, 89);

    // Missing file: nothing logged, nothing written.
    {
        FakeConfigFile file;
        FakeConfigLog log;
        EXPECT_EQ(updateTjmax(89, path, file, log), -1);
        EXPECT_THAT(file.replaced, IsEmpty());
        EXPECT_THAT(log.lines, IsEmpty());
    }
    // Not JSON: logged, file left alone.
    {
        FakeConfigFile file;
        FakeConfigLog log;
        file.files[path] = "[";
        EXPECT_EQ(updateTjmax(89, path, file, log), -1);
        EXPECT_THAT(file.replaced, IsEmpty());
        EXPECT_EQ(file.files[path], "[");
        EXPECT_THAT(log.lines, ElementsAre("parse"));
    }
    // The replace fails: logged with its errno and the path.
    {
        FakeConfigFile file;
        FakeConfigLog log;
        file.files[path] = valid;
        file.replaceError = 28;
        EXPECT_EQ(updateTjmax(89, path, file, log), -1);
        EXPECT_THAT(file.replaced, ElementsAre(path));
        EXPECT_EQ(file.files[path], valid);
        EXPECT_THAT(log.lines, ElementsAre("write 28 " + path));
    }
    // Success.
    {
        FakeConfigFile file;
        FakeConfigLog log;
        file.files[path] = valid;
        EXPECT_EQ(updateTjmax(89, path, file, log), 0);
        EXPECT_THAT(file.replaced, ElementsAre(path));
        EXPECT_EQ(file.files[path], written);
        EXPECT_THAT(log.lines, IsEmpty());
    }
}

} // namespace
} // namespace kestrel::test
