// GARP and Wake-on-LAN settings on a fake key/value store.
#include "fakes.hpp"
#include "garp_wol.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using garp_wol::garp;
using garp_wol::wakeOnLan;
using testing::ElementsAre;

struct FakeSettings : garp_wol::Settings
{
    std::map<std::string, long> values; // "section/key"
    std::vector<std::string> sets;      // "section/key=value"
    int setResult = 0;

    long get(const char* section, const char* key, long fallback) override
    {
        auto found = values.find(std::string(section) + "/" + key);
        return found != values.end() ? found->second : fallback;
    }
    int set(const char* section, const char* key, long value) override
    {
        std::string name = std::string(section) + "/" + key;
        sets.push_back(name + "=" + std::to_string(value));
        if (setResult == 0)
        {
            values[name] = value;
        }
        return setResult;
    }
};

struct SettingCase
{
    const char* name;
    Bytes request;
    Answer expected;
    std::vector<std::string> sets;
};

TEST(GarpWol, GarpRequests)
{
    const SettingCase cases[] = {
        {"empty", {}, failure(0xC7), {}},
        {"no operation", {0x00}, failure(0xC7), {}},
        {"set without value", {0x00, 0x00}, failure(0xC7), {}},
        {"set, byte 0 unused",
         {0xAB, 0x00, 0x01},
         success(),
         {"GARP/Enabled=1"}},
        {"set stores any value",
         {0x00, 0x00, 0xFE},
         success(),
         {"GARP/Enabled=254"}},
        {"set with trailing",
         {0x00, 0x00, 0x01, 0x09},
         success(),
         {"GARP/Enabled=1"}},
        {"get", {0x00, 0x01}, success({0x07}), {}},
        {"get with trailing", {0x00, 0x01, 0x05}, success({0x07}), {}},
        {"other operation", {0x00, 0x02, 0x01}, failure(0xC1), {}},
    };
    for (const auto& c : cases)
    {
        FakeSettings settings;
        settings.values["GARP/Enabled"] = 7;
        settings.values["WakeOnLan/Enabled"] = 9;
        EXPECT_EQ(garp(c.request, settings), c.expected) << c.name;
        EXPECT_EQ(settings.sets, c.sets) << c.name;
    }
}

TEST(GarpWol, WakeOnLanRequestsHaveExactLengths)
{
    const SettingCase cases[] = {
        {"empty", {}, failure(0xCC), {}},
        {"set without value", {0x00}, failure(0xCC), {}},
        {"set", {0x00, 0x01}, success(), {"WakeOnLan/Enabled=1"}},
        {"set with trailing", {0x00, 0x01, 0x02}, failure(0xCC), {}},
        {"get", {0x01}, success({0x09}), {}},
        {"get with trailing", {0x01, 0x00}, failure(0xCC), {}},
        {"other operation", {0x02}, failure(0xCC), {}},
        {"other operation with value", {0x02, 0x01}, failure(0xCC), {}},
    };
    for (const auto& c : cases)
    {
        FakeSettings settings;
        settings.values["GARP/Enabled"] = 7;
        settings.values["WakeOnLan/Enabled"] = 9;
        EXPECT_EQ(wakeOnLan(c.request, settings), c.expected) << c.name;
        EXPECT_EQ(settings.sets, c.sets) << c.name;
    }
}

TEST(GarpWol, UnsetReadsZeroAndStoredValueIsCutToAByte)
{
    FakeSettings settings;
    EXPECT_EQ(garp(Bytes{0x00, 0x01}, settings), success({0x00}));
    EXPECT_EQ(wakeOnLan(Bytes{0x01}, settings), success({0x00}));
    settings.values["GARP/Enabled"] = 0x1FF;
    settings.values["WakeOnLan/Enabled"] = -1;
    EXPECT_EQ(garp(Bytes{0x00, 0x01}, settings), success({0xFF}));
    EXPECT_EQ(wakeOnLan(Bytes{0x01}, settings), success({0xFF}));
}

TEST(GarpWol, StoreFailureIsNotSeen)
{
    FakeSettings settings;
    settings.setResult = -EIO;
    EXPECT_EQ(garp(Bytes{0x00, 0x00, 0x01}, settings), success());
    EXPECT_EQ(wakeOnLan(Bytes{0x00, 0x01}, settings), success());
    EXPECT_THAT(settings.sets,
                ElementsAre("GARP/Enabled=1", "WakeOnLan/Enabled=1"));
    EXPECT_EQ(garp(Bytes{0x00, 0x01}, settings), success({0x00}));
}

} // namespace
} // namespace kestrel::test
