// watchkeeper on the sandbox's bus: the real daemon, its configuration at
// the board's path, and the mocked sensors, host state and LED manager.
#include "mockbus.hpp"
#include "sandbox.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace mockbus = kestrel::test::mockbus;
using namespace std::chrono_literals;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::UnorderedElementsAre;

namespace
{

const std::string fan0 = "/xyz/openbmc_project/sensors/fan_tach/Fan0";
const std::string fan1 = "/xyz/openbmc_project/sensors/fan_tach/Fan1";
const std::string cpu0 = "/xyz/openbmc_project/sensors/temperature/CPU0_Temp";
const std::string opStatus =
    "xyz.openbmc_project.State.Decorator.OperationalStatus";
const std::string critical = "xyz.openbmc_project.Sensor.Threshold.Critical";
const std::string groups = "/xyz/openbmc_project/led/groups/";

/** "NAME=true" for each LED Set the LED mock received, in order. */
std::vector<std::string> ledWrites()
{
    std::vector<std::string> out;
    for (const auto& c : mockbus::calls(mockbus::led, "Set"))
    {
        out.push_back(c.path.substr(groups.size()) + "=" +
                      c.args.at(2).substr(2));
    }
    return out;
}

/** Waits until the LED mock has received `n` Set calls, and returns them. */
std::vector<std::string> waitForLedWrites(std::size_t n)
{
    kestrel::test::waitUntil([n] { return ledWrites().size() >= n; });
    return ledWrites();
}

std::string fileOr(const fs::path& p, const std::string& otherwise)
{
    std::error_code ec;
    return fs::exists(p, ec) ? kestrel::test::readTextFile(p) : otherwise;
}

class WatchKeeperTest : public mockbus::MockTest
{
  protected:
    WatchKeeperTest() :
        MockTest({mockbus::led, mockbus::stateHost, mockbus::fanSensor,
                  mockbus::tempSensor})
    {
    }

    void TearDown() override
    {
        stop();
    }

    /** Starts the daemon on `config` and waits until its watches are in
     *  place: it reads the host state right after registering them, so
     *  the read reaching the host-state mock (or, with that mock stopped,
     *  the read's failure being logged) tells they are. */
    void start(const std::string& config)
    {
        auto mark = kestrel::test::journalMark();
        bool hostService = mockbus::hasOwner(mockbus::stateHost);
        fs::create_directories(fs::path(WATCHKEEPER_CONFIG).parent_path());
        kestrel::test::writeFile(WATCHKEEPER_CONFIG, config);
        fs::path hostLog = fs::path(std::getenv("SB_RUN")) / "state_host.log";
        std::size_t seen = fileOr(hostLog, "").size();
        output = kestrel::test::tempDir() / "watchkeeper.log";

        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, output.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&files, 1, 2);
        char* argv[] = {const_cast<char*>(WATCHKEEPER_EXE), nullptr};
        ASSERT_EQ(
            posix_spawn(&pid, WATCHKEEPER_EXE, &files, nullptr, argv, environ),
            0);
        posix_spawn_file_actions_destroy(&files);

        ASSERT_TRUE(kestrel::test::waitUntil(
            [&] {
                if (hostService)
                {
                    return fileOr(hostLog, "")
                               .substr(seen)
                               .find("CurrentHostState") != std::string::npos;
                }
                return !kestrel::test::journalSince(mark).empty();
            },
            10s))
            << kestrel::test::readTextFile(output);
        mockbus::clearCalls(mockbus::led);
    }

    bool running()
    {
        return pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0;
    }

    void stop()
    {
        if (pid > 0)
        {
            ::kill(pid, SIGTERM);
            int status = 0;
            ::waitpid(pid, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            pid = -1;
        }
    }

    pid_t pid = -1;
    fs::path output;
};

TEST_F(WatchKeeperTest, SampleConfigurationDrivesTheLedsEndToEnd)
{
    start(kestrel::test::readTextFile(SAMPLE_CONFIG));
    fs::remove_all("/run/watchkeeper");

    mockbus::updateProperty(mockbus::fanSensor, fan1, opStatus, "Functional",
                            false);
    EXPECT_THAT(waitForLedWrites(2),
                ElementsAre("system_fault=true", "fan_fault=true"));
    mockbus::updateProperty(mockbus::tempSensor, cpu0, critical,
                            "CriticalAlarmHigh", true);
    mockbus::updateProperty(mockbus::fanSensor, fan1, opStatus, "Functional",
                            true);
    mockbus::updateProperty(mockbus::tempSensor, cpu0, critical,
                            "CriticalAlarmHigh", false);
    EXPECT_THAT(waitForLedWrites(5),
                ElementsAre("system_fault=true", "fan_fault=true",
                            "system_fault=true", "system_fault=true",
                            "system_fault=false"));
    // The host runs (the mock's start state), so the guarded command ran.
    EXPECT_THAT(fileOr("/run/watchkeeper/events", ""),
                HasSubstr("CPU0_Temp critical"));

    mockbus::updateProperty(
        mockbus::stateHost, "/xyz/openbmc_project/state/host0",
        "xyz.openbmc_project.State.Host", "CurrentHostState",
        "xyz.openbmc_project.State.Host.HostState.Off");
    kestrel::test::waitUntil(
        [] { return fileOr("/run/watchkeeper/host", "") == "off\n"; });
    EXPECT_EQ(fileOr("/run/watchkeeper/host", ""), "off\n");
}

/** A monitor of fan 0's `iface` writing `group` on Functional = value. */
std::string fanMonitor(const std::string& iface, int value,
                       const std::string& group, int asserted)
{
    return R"({"path": ")" + fan0 + R"(", "interfaces": [{"name": ")" + iface +
           R"(", "properties": [{"Functional": [{"value": )" +
           std::to_string(value) + R"(, "actions": [{"led": [")" + groups +
           group + R"(", )" + std::to_string(asserted) + "]}]}]}]}]}";
}

TEST_F(WatchKeeperTest, OnlyTheWatchedInterfaceReachesEveryWatchOfIt)
{
    // Two monitors of one path and interface both act; a third, of another
    // interface on that path, sees only its own signals.
    const std::string value = "xyz.openbmc_project.Sensor.Value";
    start(R"({"monitors": [)" + fanMonitor(opStatus, 0, "fan_fault", 1) + "," +
          fanMonitor(opStatus, 0, "enclosure_identify", 1) + "," +
          fanMonitor(value, 0, "bmc_booted", 1) + "," +
          fanMonitor(value, 1, "bmc_booted", 0) + "]}");

    mockbus::emitPropertiesChanged(mockbus::fanSensor, fan0, value,
                                   "Functional", false);
    // A wrongly typed value reads as false.
    mockbus::emitPropertiesChanged(mockbus::fanSensor, fan0, opStatus,
                                   "Functional", mockbus::Value("s", "broken"));
    mockbus::emitPropertiesChanged(mockbus::fanSensor, fan0, value,
                                   "Functional", true);
    auto writes = waitForLedWrites(4);
    ASSERT_EQ(writes.size(), 4U);
    EXPECT_EQ(writes[0], "bmc_booted=true");
    // (sd-bus picks the order in which watches of one rule run.)
    EXPECT_THAT(
        std::vector(writes.begin() + 1, writes.begin() + 3),
        UnorderedElementsAre("fan_fault=true", "enclosure_identify=true"));
    EXPECT_EQ(writes[3], "bmc_booted=false");
}

TEST_F(WatchKeeperTest, MalformedEntriesAndSignalsAreLoggedAndServingGoesOn)
{
    start(R"({"monitors": [
      {"path": ")" +
          fan0 + R"(", "interfaces": [{"name": ")" + opStatus +
          R"(", "properties": [{"Functional": [
            {"value": 0, "actions": [{"FanFail": ["assert", 0]}]},
            {"value": 0, "actions": [{"led": ["/xyz/openbmc_project/led/groups/fan_fault"]}]}]}]}]},
      {"path": ")" +
          fan1 + R"(", "interfaces": [{"name": ")" + opStatus +
          R"(", "properties": [{"Functional": [{"value": 0, "actions": [
            {"FanFail": ["assert", 1]}]}]}]}]}]})");

    auto mark = kestrel::test::journalMark();
    mockbus::updateProperty(mockbus::fanSensor, fan0, opStatus, "Functional",
                            false);
    auto skipped = kestrel::test::waitForJournal(
        "Malformed monitor configuration entry, actions skipped", mark);
    ASSERT_TRUE(skipped);
    EXPECT_EQ((*skipped)["PRIORITY"], "3");
    EXPECT_EQ((*skipped)["PATH"], fan0);
    EXPECT_THAT((*skipped)["ENTRY"], HasSubstr("fan_fault"));
    EXPECT_THAT((*skipped)["ERROR"], HasSubstr("out_of_range"));

    mockbus::emitSignal(mockbus::fanSensor, fan1,
                        "org.freedesktop.DBus.Properties", "PropertiesChanged",
                        {mockbus::Value(opStatus), mockbus::Value(int32_t{5})});
    auto bad = kestrel::test::waitForJournal(
        "Malformed PropertiesChanged signal", mark);
    ASSERT_TRUE(bad);
    EXPECT_EQ((*bad)["PATH"], fan1);

    // Fan 0's well-formed first entry did not act either: the first LED
    // write comes from fan 1 with only its own bit set.
    mockbus::updateProperty(mockbus::fanSensor, fan1, opStatus, "Functional",
                            false);
    EXPECT_THAT(waitForLedWrites(1), ElementsAre("system_fault=true"));
    EXPECT_TRUE(running());
}

TEST_F(WatchKeeperTest, FailedHostStateReadAndLedWriteAreLogged)
{
    mockbus::stopMock(mockbus::stateHost);
    mockbus::failSet(mockbus::led, groups + "system_fault", "Asserted",
                     "org.freedesktop.DBus.Error.AccessDenied", "no");
    auto mark = kestrel::test::journalMark();
    fs::remove_all("/run/watchkeeper");
    // Without the host-state service the start-up read fails, the host
    // counts as running, and the "hoststate 1" guard lets its command run.
    start(kestrel::test::readTextFile(SAMPLE_CONFIG));
    auto failedRead =
        kestrel::test::waitForJournal("Failed to get host state", mark);
    ASSERT_TRUE(failedRead);
    EXPECT_FALSE((*failedRead)["EC"].empty());

    mockbus::updateProperty(mockbus::tempSensor, cpu0, critical,
                            "CriticalAlarmHigh", true);
    auto failedWrite =
        kestrel::test::waitForJournal("Failed to set LED state", mark);
    ASSERT_TRUE(failedWrite);
    EXPECT_EQ((*failedWrite)["PRIORITY"], "3");
    EXPECT_THAT((*failedWrite)["EC"], HasSubstr("denied"));
    EXPECT_THAT(fileOr("/run/watchkeeper/events", ""),
                HasSubstr("CPU0_Temp critical"));
}

TEST(WatchKeeperStartup, BadConfigurationEndsStartUpWithAFailureStatus)
{
    kestrel::test::requireSandbox();
    fs::create_directories(fs::path(WATCHKEEPER_CONFIG).parent_path());
    struct Case
    {
        const char* config; // nullptr: no file at all
        const char* message;
    };
    for (const Case& c : std::initializer_list<Case>{
             {nullptr, "parse_error.101"},
             {"{\"monitors\": [1]}", "type_error.306"},
             {R"({"monitors": [{"interfaces": [{"name": "a.B"}]}]})",
              "\"path\" is missing"}})
    {
        fs::remove(WATCHKEEPER_CONFIG);
        if (c.config != nullptr)
        {
            kestrel::test::writeFile(WATCHKEEPER_CONFIG, c.config);
        }
        auto r = kestrel::test::run({WATCHKEEPER_EXE});
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_THAT(r.err, HasSubstr(c.message));
    }
}

} // namespace
