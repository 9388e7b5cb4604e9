// NC-SI select and Set network interface through the host's dispatcher:
// the shell commands the sandbox's stand-ins record, the driver bind files
// under its /sys/bus, the sideband store in its /var/lib, and the mocked
// network service and systemd.
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace mockbus = kestrel::test::mockbus;
using kestrel::test::Reply;
using testing::ElementsAre;
using testing::IsEmpty;
using Bytes = std::vector<uint8_t>;

namespace
{

constexpr ipmi::NetFn netFn = 0x3A;
constexpr ipmi::Cmd cmdSetNcsi = 0x20;
constexpr ipmi::Cmd cmdGetNcsi = 0x21;
constexpr ipmi::Cmd cmdNetworkIntf = 0x71;

const fs::path driverDir = "/sys/bus/platform/drivers/ftgmac100";
const fs::path storeFile = "/var/lib/sidebandcfg/port";
constexpr auto macName = "1e660000.ethernet";
constexpr auto restartLine = "systemctl restart systemd-networkd\n";
constexpr auto unitNetworkd =
    "/org/freedesktop/systemd1/unit/systemd_2dnetworkd_2eservice";

std::string textOf(const fs::path& path)
{
    return fs::exists(path) ? kestrel::test::readTextFile(path) : "";
}

std::string commandsLog()
{
    return textOf(fs::path(std::getenv("SB_RUN")) / "commands.log");
}

// The store and the recorded commands, as they stand at some moment.
std::string boardState()
{
    return "store=" + textOf(storeFile) + " log=" + commandsLog();
}

// A full FIFO in place of a driver file: the shell that redirects into it
// blocks on its write until the probe has noted the board state, which shows
// what the handler had done before that step.
class StepProbe
{
  public:
    explicit StepProbe(const fs::path& file)
    {
        fs::remove(file);
        EXPECT_EQ(::mkfifo(file.c_str(), 0644), 0);
        fd = ::open(file.c_str(), O_RDWR | O_NONBLOCK);
        const std::string chunk(4096, 'x');
        while (::write(fd, chunk.data(), chunk.size()) > 0)
        {
            filled += chunk.size();
        }
        notify = ::inotify_init1(IN_CLOEXEC);
        EXPECT_GE(::inotify_add_watch(notify, file.c_str(), IN_OPEN), 0);
        watcher = std::thread([this] {
            pollfd p{notify, POLLIN, 0};
            if (::poll(&p, 1, 10000) == 1)
            {
                seen = boardState();
            }
            drain();
        });
    }

    ~StepProbe()
    {
        ::close(notify);
        ::close(fd);
    }

    /** The board state when the shell opened the file, and what it wrote;
     *  call once the handler has returned. */
    std::pair<std::optional<std::string>, std::string> result()
    {
        watcher.join();
        drain();
        return {seen, written};
    }

  private:
    void drain()
    {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof(buffer))) > 0)
        {
            std::size_t skip = std::min<std::size_t>(filled, n);
            filled -= skip;
            written.append(buffer + skip, n - skip);
        }
    }

    int fd = -1;
    int notify = -1;
    std::size_t filled = 0;
    std::thread watcher;
    std::optional<std::string> seen;
    std::string written;
};

class NcsiNetworkTest : public mockbus::MockTest
{
  protected:
    NcsiNetworkTest() : MockTest({mockbus::network})
    {
    }

    static void SetUpTestSuite()
    {
        ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    }

    void SetUp() override
    {
        MockTest::SetUp();
        fs::remove(fs::path(std::getenv("SB_RUN")) / "commands.log");
        fs::create_directories(driverDir);
        for (const char* name : {"bind", "unbind"})
        {
            fs::remove(driverDir / name);
            kestrel::test::writeFile(driverDir / name, "");
        }
        fs::remove_all(storeFile);
        fs::create_directories(storeFile.parent_path());
        kestrel::test::writeFile(storeFile, "7\n");
    }

    static Reply send(ipmi::Cmd cmd, const Bytes& data)
    {
        return kestrel::test::send(netFn, cmd, data);
    }
};

TEST_F(NcsiNetworkTest, SetNcsiUnbindsStoresRebindsAndRestartsInThatOrder)
{
    StepProbe unbind(driverDir / "unbind");
    StepProbe bind(driverDir / "bind");
    Reply r = send(cmdSetNcsi, {0xC8});
    auto [atUnbind, unbound] = unbind.result();
    auto [atBind, bound] = bind.result();
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, IsEmpty());
    EXPECT_EQ(atUnbind, "store=7\n log=");
    EXPECT_EQ(atBind, "store=200\n log=");
    EXPECT_EQ(unbound, macName);
    EXPECT_EQ(bound, macName);
    EXPECT_EQ(commandsLog(), restartLine);
}

TEST_F(NcsiNetworkTest, EveryPortPassesThroughAndGetReadsItBack)
{
    std::string expectedLog;
    for (uint8_t port : {0x00, 0x01, 0x02, 0x7F, 0x80, 0xFF})
    {
        SCOPED_TRACE(int(port));
        Reply set = send(cmdSetNcsi, {port, 0x55}); // extra bytes unused
        EXPECT_EQ(set.cc, 0x00);
        EXPECT_THAT(set.data, IsEmpty());
        EXPECT_EQ(textOf(storeFile), std::to_string(port) + "\n");
        EXPECT_EQ(textOf(driverDir / "unbind"), macName);
        EXPECT_EQ(textOf(driverDir / "bind"), macName);
        expectedLog += restartLine;
        EXPECT_EQ(commandsLog(), expectedLog);

        for (const Bytes& request : {Bytes{}, Bytes{0x03, 0x04}})
        {
            Reply get = send(cmdGetNcsi, request);
            EXPECT_EQ(get.cc, 0x00);
            EXPECT_THAT(get.data, ElementsAre(port));
        }
    }
}

TEST_F(NcsiNetworkTest, EmptySetNcsiDoesNothing)
{
    Reply r = send(cmdSetNcsi, {});
    EXPECT_EQ(r.cc, 0xC7);
    EXPECT_THAT(r.data, IsEmpty());
    EXPECT_EQ(boardState(), "store=7\n log=");
    EXPECT_EQ(textOf(driverDir / "unbind"), "");
    EXPECT_EQ(textOf(driverDir / "bind"), "");
}

TEST_F(NcsiNetworkTest, UnusableStoreIsAnErrorButTheMacComesBack)
{
    fs::remove(storeFile);
    fs::create_directory(storeFile); // neither readable nor replaceable
    Reply set = send(cmdSetNcsi, {0x01});
    EXPECT_EQ(set.cc, 0xFF);
    EXPECT_THAT(set.data, IsEmpty());
    EXPECT_EQ(textOf(driverDir / "bind"), macName);
    EXPECT_EQ(commandsLog(), restartLine);

    Reply get = send(cmdGetNcsi, {});
    EXPECT_EQ(get.cc, 0xFF);
    EXPECT_THAT(get.data, IsEmpty());
}

TEST_F(NcsiNetworkTest, NetworkActionsCallTheirObjects)
{
    struct Case
    {
        Bytes request;
        const char* path;
        const char* method;
    };
    const std::vector<Case> cases = {
        {{0x02, 0x01}, "/xyz/openbmc_project/network/eth1", "DeleteAll"},
        {{0x02, 0x02}, "/xyz/openbmc_project/network/eth0", "DeleteAll"},
        {{0x02, 0x02, 0x09}, "/xyz/openbmc_project/network/eth0", "DeleteAll"},
        {{0x01}, "/xyz/openbmc_project/network", "Reset"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.request));
        mockbus::clearCalls(mockbus::network);
        Reply r = send(cmdNetworkIntf, c.request);
        EXPECT_EQ(r.cc, 0x00);
        EXPECT_THAT(r.data, IsEmpty());
        auto calls = mockbus::allCalls(mockbus::network);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].path, c.path);
        EXPECT_EQ(calls[0].method, c.method);
        EXPECT_THAT(calls[0].args, IsEmpty());
    }
}

TEST_F(NcsiNetworkTest, RestartActionRestartsTheNetworkdUnit)
{
    // Started here when the test list does not start it.
    bool ownMock = !mockbus::hasOwner(mockbus::systemd);
    ownMock ? mockbus::startMock(mockbus::systemd)
            : mockbus::reset(mockbus::systemd);
    Reply r = send(cmdNetworkIntf, {0x00});
    auto calls = mockbus::allCalls(mockbus::systemd);
    if (ownMock)
    {
        mockbus::stopMock(mockbus::systemd);
    }
    EXPECT_EQ(r.cc, 0x00);
    EXPECT_THAT(r.data, IsEmpty());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].path, unitNetworkd);
    EXPECT_EQ(calls[0].method, "Restart");
    EXPECT_THAT(calls[0].args, ElementsAre("s:replace"));
    EXPECT_THAT(mockbus::allCalls(mockbus::network), IsEmpty());
    EXPECT_EQ(commandsLog(), "");
}

TEST_F(NcsiNetworkTest, BadNetworkRequestsMakeNoCall)
{
    const std::vector<std::pair<Bytes, uint8_t>> cases = {
        {{0x02, 0x03}, 0xC1}, {{0x02, 0x00}, 0xC1}, {{0x03}, 0xC1},
        {{0xFF, 0x01}, 0xC1}, {{}, 0xC7},           {{0x02}, 0xC7},
    };
    for (const auto& [request, cc] : cases)
    {
        SCOPED_TRACE(testing::PrintToString(request));
        Reply r = send(cmdNetworkIntf, request);
        EXPECT_EQ(r.cc, cc);
        EXPECT_THAT(r.data, IsEmpty());
    }
    EXPECT_THAT(mockbus::allCalls(mockbus::network), IsEmpty());
}

TEST_F(NcsiNetworkTest, AbsentNetworkServiceAnswersTheHostsError)
{
    std::size_t mark = kestrel::test::journalMark();
    mockbus::stopMock(mockbus::network);
    Reply reset = send(cmdNetworkIntf, {0x01});
    Reply remove = send(cmdNetworkIntf, {0x02, 0x01});
    mockbus::startMock(mockbus::network);
    for (const Reply& r : {reset, remove})
    {
        EXPECT_EQ(r.cc, 0xFF);
        EXPECT_THAT(r.data, IsEmpty());
    }
    auto logged = kestrel::test::waitForJournal(
        "Legacy Handler failed to catch exception", mark);
    ASSERT_TRUE(logged);
    EXPECT_EQ((*logged)["CMD"], "71");
    EXPECT_THAT(
        (*logged)["EXCEPTION"],
        testing::StartsWith("sd_bus_call noreply: "
                            "org.freedesktop.DBus.Error.ServiceUnknown"));
    EXPECT_EQ(send(cmdNetworkIntf, {0x01}).cc, 0x00);
}

} // namespace
