// Set and Get BIOS POST status against a fake host state service.
#include "bios_post_status.hpp"
#include "fakes.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using bios_post_status::getBiosPostStatus;
using bios_post_status::setBiosPostStatus;
using testing::ElementsAre;
using testing::IsEmpty;

constexpr auto stages = "xyz.openbmc_project.State.Boot.Progress."
                        "ProgressStages.";

struct FakeBootProgress : bios_post_status::BootProgress
{
    std::vector<std::string> stages;
    bool fail = false;

    void setStage(const std::string& stage) override
    {
        if (fail)
        {
            throw BusFailure();
        }
        stages.push_back(stage);
    }
};

TEST(BiosPostStatus, EachStatusIsKeptAndPublished)
{
    const std::pair<uint8_t, const char*> cases[] = {
        {0x00, "Unspecified"},
        {0x01, "Unspecified"},
        {0x02, "SystemInitComplete"},
        {0x03, "SystemInitComplete"},
        {0x04, "OSStart"},
    };
    for (auto [status, stage] : cases)
    {
        uint8_t last = 0xEE;
        FakeBootProgress progress;
        EXPECT_EQ(setBiosPostStatus(Bytes{status}, last, progress), success())
            << int{status};
        EXPECT_EQ(last, status);
        EXPECT_THAT(progress.stages, ElementsAre(std::string(stages) + stage));
        EXPECT_EQ(getBiosPostStatus({}, last), success({status}));
    }
}

TEST(BiosPostStatus, RefusedRequestsKeepNothing)
{
    const Case cases[] = {
        {"empty", {}, failure(0xC7)},
        {"past the last status", {0x05}, failure(0xC1)},
        {"0xFF", {0xFF, 0x00}, failure(0xC1)},
    };
    for (const auto& c : cases)
    {
        uint8_t last = 0x02;
        FakeBootProgress progress;
        EXPECT_EQ(setBiosPostStatus(c.request, last, progress), c.expected)
            << c.name;
        EXPECT_EQ(last, 0x02) << c.name;
        EXPECT_THAT(progress.stages, IsEmpty()) << c.name;
    }
}

TEST(BiosPostStatus, TrailingBytesAreIgnored)
{
    uint8_t last = 0x00;
    FakeBootProgress progress;
    EXPECT_EQ(setBiosPostStatus(Bytes{0x03, 0x09}, last, progress), success());
    EXPECT_EQ(last, 0x03);
    EXPECT_EQ(getBiosPostStatus(Bytes{0x01, 0x02}, last), success({0x03}));
}

TEST(BiosPostStatus, FailedPublishKeepsTheStatus)
{
    uint8_t last = 0x00;
    FakeBootProgress progress;
    progress.fail = true;
    EXPECT_THROW(setBiosPostStatus(Bytes{0x04}, last, progress), BusFailure);
    EXPECT_EQ(last, 0x04);
}

} // namespace
} // namespace kestrel::test
