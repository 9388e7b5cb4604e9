// NC-SI select and Set network interface through the host's dispatcher:
// the stand-ins' command log, the driver bind files, the sideband store, and
// the mocked network service and systemd.
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <cstdlib>
#include <filesystem>

#include <gmock/gmock.h>

namespace fs = std::filesystem;
using namespace kestrel::test;
using testing::ElementsAre;

const fs::path driverDir = "/sys/bus/platform/drivers/ftgmac100";
const fs::path storeFile = "/var/lib/sidebandcfg/port";
constexpr auto mac = "1e660000.ethernet";

static std::string textOf(const fs::path& path)
{
    return fs::exists(path) ? readTextFile(path) : "";
}

TEST(NcsiNetwork, NetworkActionsAndNcsiSelectReachTheirObjectsAndFiles)
{
    mockbus::reset(mockbus::network);
    mockbus::reset(mockbus::systemd);
    const fs::path log = fs::path(std::getenv("SB_RUN")) / "commands.log";
    fs::remove(log);
    fs::create_directories(driverDir);
    writeFile(driverDir / "bind", "");
    writeFile(driverDir / "unbind", "");
    fs::create_directories(storeFile.parent_path());
    EXPECT_THAT(ask(0x71, {0x00}), ElementsAre(0x00));
    EXPECT_THAT(ask(0x71, {0x01}), ElementsAre(0x00));
    EXPECT_THAT(ask(0x71, {0x02, 0x01}), ElementsAre(0x00));
    std::vector<std::string> got;
    for (const auto& service : {mockbus::systemd, mockbus::network})
    {
        for (const auto& call : mockbus::allCalls(service))
        {
            got.push_back(call.path + " " + call.method);
            for (const auto& arg : call.args)
            {
                got.back() += " " + arg;
            }
        }
    }
    EXPECT_THAT(got,
                ElementsAre("/org/freedesktop/systemd1/unit/"
                            "systemd_2dnetworkd_2eservice Restart s:replace",
                            "/xyz/openbmc_project/network Reset",
                            "/xyz/openbmc_project/network/eth1 DeleteAll"));
    EXPECT_EQ(textOf(log), "");

    // NC-SI select stores the port and binds the MAC again
    // (docs/commands.md shows the unbind, the restart and Get).
    EXPECT_THAT(ask(0x20, {0xC8}), ElementsAre(0x00));
    EXPECT_EQ(textOf(storeFile), "200\n");
    EXPECT_EQ(textOf(driverDir / "bind"), mac);
}
