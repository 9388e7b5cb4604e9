// NC-SI select and Set network interface through the host's dispatcher:
// the stand-ins' command log, the driver bind files, the sideband store, and
// the mocked network service and systemd.
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <cstdlib>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace kestrel::test;
using testing::ElementsAre;

namespace
{

const fs::path driverDir = "/sys/bus/platform/drivers/ftgmac100";
const fs::path storeFile = "/var/lib/sidebandcfg/port";
constexpr auto mac = "1e660000.ethernet";
constexpr auto restartLine = "systemctl restart systemd-networkd\n";

std::string textOf(const fs::path& path)
{
    return fs::exists(path) ? readTextFile(path) : "";
}

std::string commandsLog()
{
    return textOf(fs::path(std::getenv("SB_RUN")) / "commands.log");
}

struct NcsiNetworkTest : mockbus::MockTest
{
    NcsiNetworkTest() : MockTest({mockbus::network, mockbus::systemd})
    {
    }

    void SetUp() override
    {
        MockTest::SetUp();
        fs::remove(std::string(std::getenv("SB_RUN")) + "/commands.log");
        fs::create_directories(driverDir);
        writeFile(driverDir / "bind", "");
        writeFile(driverDir / "unbind", "");
        fs::remove_all(storeFile);
        fs::create_directories(storeFile.parent_path());
        writeFile(storeFile, "7\n");
    }
};

TEST_F(NcsiNetworkTest, SetNcsiStoresThePortRebindsTheMacAndRestarts)
{
    EXPECT_THAT(ask(0x20, {}), ElementsAre(0xC7));
    EXPECT_EQ(textOf(storeFile) + textOf(driverDir / "unbind"), "7\n");

    EXPECT_THAT(ask(0x20, {0xC8, 0x55}), ElementsAre(0x00));
    EXPECT_EQ(textOf(storeFile), "200\n");
    EXPECT_EQ(textOf(driverDir / "unbind"), mac);
    EXPECT_EQ(textOf(driverDir / "bind"), mac);
    EXPECT_EQ(commandsLog(), restartLine);
    EXPECT_THAT(ask(0x21, {0x03, 0x04}), ElementsAre(0x00, 0xC8));
}

TEST_F(NcsiNetworkTest, UnusableStoreIsAnErrorButTheMacComesBack)
{
    fs::remove(storeFile);
    fs::create_directory(storeFile); // neither readable nor replaceable
    EXPECT_THAT(ask(0x20, {0x01}), ElementsAre(0xFF));
    EXPECT_EQ(textOf(driverDir / "bind") + commandsLog(),
              std::string(mac) + restartLine);
    EXPECT_THAT(ask(0x21, {}), ElementsAre(0xFF));
}

TEST_F(NcsiNetworkTest, NetworkActionsCallTheirObjects)
{
    const std::pair<Bytes, std::string> cases[] = {
        {{0x00},
         "/org/freedesktop/systemd1/unit/systemd_2dnetworkd_2eservice "
         "Restart s:replace"},
        {{0x01}, "/xyz/openbmc_project/network Reset"},
        {{0x02, 0x01}, "/xyz/openbmc_project/network/eth1 DeleteAll"},
        {{0x02, 0x02}, "/xyz/openbmc_project/network/eth0 DeleteAll"},
        {{0x02, 0x03}, "cc 193"},
    };
    for (const auto& [request, expected] : cases)
    {
        mockbus::clearCalls(mockbus::network);
        mockbus::clearCalls(mockbus::systemd);
        Bytes answer = ask(0x71, request);
        std::string got =
            answer == Bytes{0x00} ? "" : "cc " + std::to_string(answer.at(0));
        for (const auto* service : {&mockbus::network, &mockbus::systemd})
        {
            for (const auto& call : mockbus::allCalls(*service))
            {
                got += call.path + " " + call.method;
                for (const auto& arg : call.args)
                {
                    got += " " + arg;
                }
            }
        }
        EXPECT_EQ(got, expected) << testing::PrintToString(request);
    }
    EXPECT_EQ(commandsLog(), "");
}

TEST_F(NcsiNetworkTest, AbsentNetworkServiceIsAnError)
{
    mockbus::stopMock(mockbus::network);
    EXPECT_THAT(ask(0x71, {0x02, 0x01}), ElementsAre(0xFF));
    EXPECT_THAT(ask(0x71, {0x01}), ElementsAre(0xFF));
}

} // namespace
