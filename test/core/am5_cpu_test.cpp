// The AM5 CPU class commands and the TJMAX rewrite of the sensor config.
#include "am5_cpu.hpp"
#include "fakes.hpp"

namespace kestrel::test::am5_cpu_cases
{

using namespace am5_cpu;
using nlohmann::json;

/** Records each effect with the class recorded at that moment. */
struct FakeClassEffects : ClassEffects, Recorder
{
    uint8_t detected = 0xEE;
    FAKE(int, updateTjmax, (int tjmax), detected, tjmax);
    FAKE(void, restartVirtualSensor, ());
};

struct FakeConfig : ConfigFile, ConfigLog, Recorder
{
    FAKE(std::optional<std::string>, read, (const std::string& path), path);
    FAKE(int, replace, (const std::string& p, const std::string& t), p, t);
    FAKE(void, parseFailed, ());
    FAKE(void, writeFailed, (int err, const std::string& path), err, path);
};

TEST(Am5Cpu, TheClassAndTheTjmaxOfTheConfig)
{
    auto set = [](Request in, auto& f) {
        return setSpecCpu(in, f.detected, f);
    };
    const std::string restart = "restartVirtualSensor";
    const Case cases[] = {
        {"too short", {0x01}, cc(0xC7)},
        {"class 0", {0, 0}, ok(), {"updateTjmax 0 95", restart}},
        {"1, trailing", {5, 1, 7}, ok(), {"updateTjmax 1 89", restart}},
        {"class 2", {0x00, 0x02}, cc(0xC1)},
    };
    FakeClassEffects fx;
    fx.answers = {{"updateTjmax", "-1"}}; // not looked at
    check(cases, set, fx);
    // A failing restart escapes after the class and the file are set.
    fx.answers = {{restart, "throw"}};
    EXPECT_THROW(set(Bytes{0x00, 0x01}, fx), BusFailure);
    EXPECT_EQ(fx.calls, (Strings{"updateTjmax 1 89", restart}));
    EXPECT_EQ(getSpecCpu(Bytes{0x05}, fx.detected), ok({0x01}));

    // Only TJMAX entries of ConstParam arrays change; other shapes are kept.
    const char* odd = R"([{"Params": {"ConstParam": [5, {"ParamName": "TJMAX",
        "Value": 1}, {"ParamName": "OFFSET", "Value": 7}]}}, {"Params": 2}, 3,
        {"Params": {"ConstParam": {"ParamName": "TJMAX"}}}])";
    EXPECT_EQ(json::parse(rewriteConfig(odd, 89).value_or("")),
              json::parse(R"([{"Params": {"ConstParam": [5, {"ParamName":
        "TJMAX", "Value": 89}, {"ParamName": "OFFSET", "Value": 7}]}},
        {"Params": 2}, 3, {"Params": {"ConstParam": {"ParamName":
        "TJMAX"}}}])"));
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
    EXPECT_EQ(rewriteConfig("", 95), std::nullopt);
    EXPECT_EQ(rewriteConfig("[1] [2]", 95), std::nullopt);
    EXPECT_EQ(rewriteConfig("[\"\xff\"]", 95), std::nullopt);

    const std::string valid = R"([{"Params": {"ConstParam": [{}]}}])";
    const std::string read = "read /c", failed = "writeFailed 28 /c";
    const std::string replace = "replace /c " + *rewriteConfig(valid, 89);
    const std::tuple<Answers, int, Strings> updates[] = {
        {{}, -1, {read}},
        {{{read, "["}}, -1, {read, "parseFailed"}},
        {{{read, valid}, {"replace", "28"}}, -1, {read, replace, failed}},
        {{{read, valid}}, 0, {read, replace}},
    };
    for (const auto& [answers, result, calls] : updates)
    {
        FakeConfig file;
        file.answers = answers;
        EXPECT_EQ(updateTjmax(89, "/c", file, file), result);
        EXPECT_EQ(file.calls, calls);
    }
}

} // namespace kestrel::test::am5_cpu_cases
