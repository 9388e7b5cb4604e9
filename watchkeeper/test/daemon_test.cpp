// watchkeeper on the sandbox's bus: the real daemon, its configuration at
// the board's path, and the mocked sensors, host state and LED manager.
#include "mockbus.hpp"
#include "sandbox.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace mockbus = kestrel::test::mockbus;
using namespace kestrel::test;
using testing::ElementsAre;
using testing::HasSubstr;

namespace
{

const std::string fan0 = "/xyz/openbmc_project/sensors/fan_tach/Fan0";
const std::string fan1 = "/xyz/openbmc_project/sensors/fan_tach/Fan1";
const std::string cpu0 = "/xyz/openbmc_project/sensors/temperature/CPU0_Temp";
const std::string opStatus =
    "xyz.openbmc_project.State.Decorator.OperationalStatus";
const std::string critical = "xyz.openbmc_project.Sensor.Threshold.Critical";
const std::string groups = "/xyz/openbmc_project/led/groups/";

/** "NAME=true" for each LED Set received, once there are `n` of them. */
std::vector<std::string> ledWrites(std::size_t n)
{
    std::vector<std::string> out;
    waitUntil([&] {
        out.clear();
        for (const auto& c : mockbus::calls(mockbus::led, "Set"))
        {
            out.push_back(c.path.substr(groups.size()) + "=" +
                          c.args.at(2).substr(2));
        }
        return out.size() >= n;
    });
    return out;
}

/** The file's text, or "" when it does not exist. */
std::string textOf(const fs::path& p)
{
    std::error_code ec;
    return fs::exists(p, ec) ? readTextFile(p) : "";
}

/** A monitor of the fan's Functional with this entry. */
std::string monitor(const std::string& path, const std::string& entry)
{
    return R"({"path": ")" + path + R"(", "interfaces": [{"name": ")" +
           opStatus + R"(", "properties": [{"Functional": [)" + entry +
           "]}]}]}";
}

class WatchKeeperTest : public mockbus::MockTest
{
  protected:
    WatchKeeperTest() :
        MockTest({mockbus::led, mockbus::stateHost, mockbus::fanSensor,
                  mockbus::tempSensor})
    {
    }

    /** Starts the daemon on `config` and waits for its start-up read of the
     *  host state, which follows the registration of the watches. */
    void start(const std::string& config)
    {
        fs::create_directories(fs::path(WATCHKEEPER_CONFIG).parent_path());
        writeFile(WATCHKEEPER_CONFIG, config);
        std::string log =
            std::getenv("SB_RUN") + std::string("/state_host.log");
        auto hostRead = [&log, seen = textOf(log).size()] {
            return textOf(log).find("CurrentHostState", seen) !=
                   std::string::npos;
        };
        char* argv[] = {const_cast<char*>(WATCHKEEPER_EXE), nullptr};
        ASSERT_EQ(
            posix_spawn(&pid, WATCHKEEPER_EXE, nullptr, nullptr, argv, environ),
            0);
        ASSERT_TRUE(waitUntil(hostRead, 10s));
    }

    void TearDown() override
    {
        int status = -1;
        EXPECT_TRUE(pid > 0 && ::kill(pid, SIGTERM) == 0 &&
                    ::waitpid(pid, &status, 0) == pid && status == 0)
            << "watchkeeper did not exit 0";
    }

    pid_t pid = -1;
};

TEST_F(WatchKeeperTest, SampleConfigurationDrivesEachKindOfEffect)
{
    start(readTextFile(SAMPLE_CONFIG));
    fs::remove_all("/run/watchkeeper");
    mockbus::updateProperty(mockbus::fanSensor, fan1, opStatus, "Functional",
                            false);
    EXPECT_THAT(ledWrites(2),
                ElementsAre("system_fault=true", "fan_fault=true"));
    // The host runs (the mock's start state), so the guarded command runs.
    mockbus::updateProperty(mockbus::tempSensor, cpu0, critical,
                            "CriticalAlarmHigh", true);
    EXPECT_TRUE(waitUntil([] {
        return textOf("/run/watchkeeper/events").find("CPU0_Temp critical") !=
               std::string::npos;
    }));
    mockbus::updateProperty(
        mockbus::stateHost, "/xyz/openbmc_project/state/host0",
        "xyz.openbmc_project.State.Host", "CurrentHostState",
        "xyz.openbmc_project.State.Host.HostState.Off");
    EXPECT_TRUE(
        waitUntil([] { return textOf("/run/watchkeeper/host") == "off\n"; }));
}

// A malformed entry and a malformed signal are logged and serving goes on.
TEST_F(WatchKeeperTest, MalformedEntriesAndSignalsAreLoggedAndServingGoesOn)
{
    start(R"({"monitors": [)" +
          monitor(fan0, R"({"value": 0, "actions": [{"led": ["/l"]}]})") + "," +
          monitor(fan1,
                  R"({"value": 0, "actions": [{"FanFail": ["assert", 1]}]})") +
          "]}");
    auto mark = journalMark();
    mockbus::updateProperty(mockbus::fanSensor, fan0, opStatus, "Functional",
                            false);
    auto skipped = waitForJournal(
        "Malformed monitor configuration entry, actions skipped", mark);
    ASSERT_TRUE(skipped);
    EXPECT_EQ((*skipped)["PRIORITY"], "3");
    EXPECT_EQ((*skipped)["PATH"], fan0);
    EXPECT_EQ((*skipped)["ENTRY"], R"({"actions":[{"led":["/l"]}],"value":0})");
    EXPECT_THAT((*skipped)["ERROR"], HasSubstr("out_of_range"));

    mockbus::emitSignal(mockbus::fanSensor, fan1,
                        "org.freedesktop.DBus.Properties", "PropertiesChanged",
                        {mockbus::Value(opStatus), mockbus::Value(int32_t{5})});
    auto bad = waitForJournal("Malformed PropertiesChanged signal", mark);
    ASSERT_TRUE(bad);
    EXPECT_EQ((*bad)["PATH"], fan1);
}

// A burst of signals outruns the LED manager: the writes wait their turn
// instead of being refused by the bus for having too many calls pending.
TEST_F(WatchKeeperTest, EveryWriteOfABurstReachesTheLedManager)
{
    start("{\"monitors\": [" +
          monitor(fan0, R"({"value": 0, "actions": [{"led": [")" + groups +
                            R"(fan_fault", 1]}]})") +
          "]}");
    auto mark = journalMark();
    sd_bus* bus = nullptr;
    ASSERT_GE(sd_bus_open_system(&bus), 0);
    constexpr int burst = 400;
    for (int i = 0; i < burst; ++i)
    {
        sd_bus_message* m = nullptr;
        ASSERT_GE(sd_bus_message_new_signal(bus, &m, fan0.c_str(),
                                            "org.freedesktop.DBus.Properties",
                                            "PropertiesChanged"),
                  0);
        ASSERT_GE(sd_bus_message_append(m, "sa{sv}as", opStatus.c_str(), 1,
                                        "Functional", "b", 0, 0),
                  0);
        ASSERT_GE(sd_bus_send(bus, m, nullptr), 0);
        sd_bus_message_unref(m);
    }
    sd_bus_flush_close_unref(bus);
    EXPECT_TRUE(waitUntil(
        [] { return mockbus::calls(mockbus::led, "Set").size() >= burst; },
        30s));
    EXPECT_FALSE(waitForJournal("Failed to set LED state", mark, 0s));
}

TEST(WatchKeeperStartup, MissingConfigurationEndsStartUpWithAFailureStatus)
{
    requireSandbox();
    fs::remove(WATCHKEEPER_CONFIG);
    auto missing = run({WATCHKEEPER_EXE});
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.err, HasSubstr("parse_error.101"));
}

} // namespace
