// The AM5 CPU class handlers, called by symbol (no NetFn or command reaches
// them), against the sandbox's /usr/share, journal and mocked systemd.
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <dlfcn.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <ipmid/api.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace kestrel::test;
using testing::ElementsAre;
using testing::IsEmpty;

namespace
{

const std::string configDir = "/usr/share/phosphor-virtual-sensor/";
const std::string configFile = configDir + "virtual_sensor_config.json";

// The provider's rename resolves to the one below (the executable exports
// it), which fails with EIO onto the configuration file while armed, and
// notes the file it was asked to move.
std::atomic<bool> failRename{false};
std::string renamed;

} // namespace

extern "C" int rename(const char* from, const char* to) noexcept
{
    static auto real =
        reinterpret_cast<decltype(&rename)>(::dlsym(RTLD_NEXT, "rename"));
    if (failRename && std::string(to).starts_with(configDir))
    {
        renamed = from;
        errno = EIO;
        return -1;
    }
    return real(from, to);
}

namespace
{

using Legacy = ipmi_ret_t (*)(ipmi_netfn_t, ipmi_cmd_t, ipmi_request_t,
                              ipmi_response_t, ipmi_data_len_t, ipmi_context_t);

/** A request as ipmid passes it, into a zeroed 64 KiB response buffer: the
 *  completion code followed by the response bytes. */
Bytes call(const char* handler, Bytes request)
{
    Bytes response(64 * 1024, 0);
    std::size_t length = request.size();
    response[0] = providerSymbol<Legacy>(handler)(
        0x3A, 0x00, request.data(), response.data() + 1, &length, nullptr);
    response.resize(length + 1);
    return response;
}

uint8_t detected()
{
    return *providerSymbol<uint8_t*>("cpu_detection");
}

constexpr auto config =
    R"([{"Params": {"ConstParam": [{"ParamName": "TJMAX", "Value": 100}]}}])";

// `config` as written back with TJMAX = `value`.
std::string written(int value)
{
    return R"([
    {
        "Params": {
            "ConstParam": [
                {
                    "ParamName": "TJMAX",
                    "Value": )" +
           std::to_string(value) + R"(
                }
            ]
        }
    }
])";
}

// The file holds `text`, keeps its mode, and no temporary is left beside it.
void expectFile(const std::string& text)
{
    EXPECT_EQ(readTextFile(configFile), text);
    EXPECT_EQ(fs::status(configFile).permissions(), fs::perms(0640));
    auto entries = fs::directory_iterator(configDir);
    EXPECT_EQ(std::distance(fs::begin(entries), fs::end(entries)), 1);
}

// The only systemd call since the last look restarted the service.
void expectOneRestart()
{
    auto calls = mockbus::allCalls(mockbus::systemd);
    mockbus::clearCalls(mockbus::systemd);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].path + " " + calls[0].method,
              "/org/freedesktop/systemd1 RestartUnit");
    EXPECT_THAT(calls[0].args,
                ElementsAre("s:phosphor-virtual-sensor.service", "s:replace"));
}

// The priority of the first entry since `mark` with this message.
std::string loggedPriority(std::size_t mark, const std::string& message)
{
    auto entry = waitForJournal(message, mark);
    return entry ? (*entry)["PRIORITY"] : "none";
}

constexpr auto parseError = "Error parsing virtual sensor config file";
constexpr auto writeError = "Error writing virtual sensor config file";

struct Am5CpuTest : mockbus::MockTest
{
    Am5CpuTest() : MockTest({mockbus::systemd})
    {
    }

    void SetUp() override
    {
        MockTest::SetUp();
        fs::remove_all(configDir);
        fs::create_directories(configDir);
        writeFile(configFile, std::string_view(config));
        fs::permissions(configFile, fs::perms(0640));
    }
};

TEST_F(Am5CpuTest, ClassSetReplacesTheConfigRestartsAndGetReportsIt)
{
    EXPECT_THAT(call("ipmiSetAM5SpecCPU", {0x00, 0x01}), ElementsAre(0x00));
    EXPECT_EQ(detected(), 0x01);
    expectFile(written(89));
    expectOneRestart();
    EXPECT_THAT(call("ipmiGetAM5SpecCPU", {}), ElementsAre(0x00, 0x01));

    // Byte 0 is not used.
    EXPECT_THAT(call("ipmiSetAM5SpecCPU", {0xA5, 0x00}), ElementsAre(0x00));
    expectFile(written(95));
    expectOneRestart();
    EXPECT_THAT(call("ipmiGetAM5SpecCPU", {0x01, 0x02}), ElementsAre(0, 0));
    EXPECT_THAT(call("ipmiSetAM5SpecCPU", {0x00, 0x02}), ElementsAre(0xC1));
    EXPECT_EQ(detected(), 0x00);
    expectFile(written(95));
    EXPECT_THAT(mockbus::allCalls(mockbus::systemd), IsEmpty());
}

TEST_F(Am5CpuTest, MalformedFileIsKeptLoggedAndTheServiceStillRestarts)
{
    std::size_t mark = journalMark();
    writeFile(configFile, "[1] [2]");
    fs::permissions(configFile, fs::perms(0640));
    EXPECT_THAT(call("ipmiSetAM5SpecCPU", {0x00, 0x00}), ElementsAre(0x00));
    EXPECT_EQ(detected(), 0x00);
    expectFile("[1] [2]");
    expectOneRestart();
    EXPECT_EQ(loggedPriority(mark, parseError), "3");
}

TEST_F(Am5CpuTest, FailedReplaceLeavesTheOriginalAndIsLogged)
{
    std::size_t mark = journalMark();
    failRename = true;
    auto answer = call("ipmiSetAM5SpecCPU", {0x00, 0x01});
    failRename = false;
    EXPECT_THAT(answer, ElementsAre(0x00));
    EXPECT_EQ(detected(), 0x01);
    expectOneRestart();
    expectFile(config);
    // The new contents went to a temporary beside the file.
    EXPECT_TRUE(renamed.starts_with(configDir)) << renamed;
    EXPECT_NE(renamed, configFile);
    auto entry = waitForJournal(writeError, mark);
    ASSERT_TRUE(entry);
    EXPECT_EQ((*entry)["PRIORITY"], "3");
    EXPECT_EQ((*entry)["ERRNO"], std::to_string(EIO));
    EXPECT_EQ((*entry)["FILE"], configFile);
}

} // namespace
