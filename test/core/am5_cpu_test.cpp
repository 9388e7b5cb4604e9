// The AM5 CPU class commands and the TJMAX rewrite of the virtual-sensor
// configuration, on a fake file, journal and service manager.
#include "am5_cpu.hpp"
#include "fakes.hpp"

namespace kestrel::test::am5_cpu_cases
{

using namespace am5_cpu;
using nlohmann::json;

/** Records each effect with the class recorded at that moment. */
struct FakeClassEffects : ClassEffects
{
    uint8_t detected = 0xEE;
    Strings calls;
    bool failRestart = false;

    int updateTjmax(int tjmax) override
    {
        calls.push_back(std::to_string(detected) + ": " +
                        std::to_string(tjmax));
        return -1; // not looked at
    }
    void restartVirtualSensor() override
    {
        failIf(failRestart);
        calls.emplace_back("restart");
    }
};

Answer set(Request in, FakeClassEffects& fx)
{
    return setSpecCpu(in, fx.detected, fx);
}

TEST(Am5Cpu, SetAndGetTheClass)
{
    const Case cases[] = {
        {"too short", {0x01}, failure(0xC7)},
        {"class 0", {0x00, 0x00}, success(), {"0: 95", "restart"}},
        {"class 1, trailing", {0xA5, 1, 7}, success(), {"1: 89", "restart"}},
        {"class 2", {0x00, 0x02}, failure(0xC1)},
    };
    check<FakeClassEffects>(cases, set);
    // A failing restart escapes after the class and the file are set.
    FakeClassEffects fx;
    fx.failRestart = true;
    EXPECT_THROW(set(Bytes{0x00, 0x01}, fx), BusFailure);
    EXPECT_EQ(fx.calls, Strings{"1: 89"});
    EXPECT_EQ(getSpecCpu(Bytes{0x05}, fx.detected), success({0x01}));
}

TEST(Am5Cpu, RewriteSetsEveryTjmaxAndKeepsTheRest)
{
    auto out = rewriteConfig(R"([{"Params": {"ConstParam": [
        {"ParamName": "TJMAX", "Value": 1}, {"ParamName": "OFFSET", "Value": 7},
        {"ParamName": "TJMAX"}, 5, "TJMAX"]}}, {"Params": "none"}, 3,
        {"Params": {"ConstParam": {"ParamName": "TJMAX"}}}])",
                             89);
    EXPECT_EQ(json::parse(out.value_or("")), json::parse(R"([{"Params": {
        "ConstParam": [{"ParamName": "TJMAX", "Value": 89},
        {"ParamName": "OFFSET", "Value": 7}, {"ParamName": "TJMAX", "Value": 89},
        5, "TJMAX"]}}, {"Params": "none"}, 3,
        {"Params": {"ConstParam": {"ParamName": "TJMAX"}}}])"));
    // An object of sensors is walked like an array; the text is written
    // with indent 4, keys sorted, UTF-8 unescaped, no final newline.
    EXPECT_EQ(rewriteConfig(R"({"s": {"Params": {"ConstParam": [{"ParamName":
                        "TJMAX"}]}, "D": "\u00b0"}})",
                            95),
              "{\n    \"s\": {\n        \"D\": \"°\",\n        \"Params\": "
              "{\n            \"ConstParam\": [\n                {\n        "
              "            \"ParamName\": \"TJMAX\",\n                    "
              "\"Value\": 95\n                }\n            ]\n        }\n  "
              "  }\n}");
    for (const char* text : {"", "[1] [2]", "[{\"Params\": {}", "[\"\xff\"]"})
    {
        EXPECT_EQ(rewriteConfig(text, 95), std::nullopt) << text;
    }
}

/** The file /c, when `text` is set, and the journal. */
struct FakeConfig : ConfigFile, ConfigLog
{
    std::optional<std::string> text;
    int replaceError = 0;
    Strings calls;

    std::optional<std::string> read(const std::string& path) override
    {
        return path == "/c" ? text : std::nullopt;
    }
    int replace(const std::string& path, const std::string& t) override
    {
        calls.push_back("replace " + path);
        text = replaceError == 0 ? t : text;
        return replaceError;
    }
    void parseFailed() override
    {
        calls.emplace_back("parse failed");
    }
    void writeFailed(int err, const std::string& path) override
    {
        calls.push_back("write failed " + std::to_string(err) + " " + path);
    }
};

TEST(Am5Cpu, UpdateTjmaxOutcomes)
{
    const std::string valid = R"([{"Params": {"ConstParam": [{}]}}])";
    const std::tuple<std::optional<std::string>, int, int, Strings> cases[] = {
        {std::nullopt, 0, -1, {}},
        {"[", 0, -1, {"parse failed"}},
        {valid, 28, -1, {"replace /c", "write failed 28 /c"}},
        {valid, 0, 0, {"replace /c"}},
    };
    for (const auto& [text, replaceError, result, calls] : cases)
    {
        FakeConfig file;
        file.text = text;
        file.replaceError = replaceError;
        EXPECT_EQ(updateTjmax(89, "/c", file, file), result);
        EXPECT_EQ(file.calls, calls);
        EXPECT_EQ(file.text, result == 0 ? rewriteConfig(valid, 89) : text);
    }
}

} // namespace kestrel::test::am5_cpu_cases
