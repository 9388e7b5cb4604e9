// The AM5 CPU class handlers, called by symbol (no NetFn or command reaches
// them), against the sandbox's /usr/share, journal and mocked systemd.
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <dlfcn.h>
#include <ipmid/api.h>

#include <cerrno>
#include <filesystem>

#include <gmock/gmock.h>

namespace fs = std::filesystem;
using namespace kestrel::test;
using testing::ElementsAre;

const std::string configDir = "/usr/share/phosphor-virtual-sensor/";
const std::string configFile = configDir + "virtual_sensor_config.json";

// The provider's rename resolves to the one below (the executable exports
// it), which fails with EIO onto the configuration file while armed.
static bool failRename = false;

extern "C" int rename(const char* from, const char* to) noexcept
{
    static auto real =
        reinterpret_cast<decltype(&rename)>(::dlsym(RTLD_NEXT, "rename"));
    if (failRename && std::string(to).starts_with(configDir))
    {
        errno = EIO;
        return -1;
    }
    return real(from, to);
}

/** A request as ipmid passes it, into a zeroed 64 KiB response buffer: the
 *  completion code followed by the response bytes. */
static Bytes call(const char* handler, Bytes request)
{
    Bytes response(64 * 1024, 0);
    std::size_t length = request.size();
    response[0] = providerSymbol<ipmid_callback_t>(handler)(
        0x3A, 0x00, request.data(), response.data() + 1, &length, nullptr);
    response.resize(length + 1);
    return response;
}

constexpr auto config =
    R"([{"Params": {"ConstParam": [{"ParamName": "TJMAX", "Value": 100}]}}])";

// `config` as written back for class 1, with TJMAX = 89.
const std::string written =
    "[\n    {\n        \"Params\": {\n            \"ConstParam\": [\n"
    "                {\n                    \"ParamName\": \"TJMAX\",\n"
    "                    \"Value\": 89\n                }\n            ]\n"
    "        }\n    }\n]";

// The file holds `written` in its mode, no temporary is left beside it, and
// the only systemd call since the last look restarted the service.
static void expectWrittenAndRestarted()
{
    EXPECT_EQ(readTextFile(configFile), written);
    EXPECT_EQ(fs::status(configFile).permissions(), fs::perms(0640));
    auto entries = fs::directory_iterator(configDir);
    EXPECT_EQ(std::distance(fs::begin(entries), fs::end(entries)), 1);
    auto calls = mockbus::allCalls(mockbus::systemd);
    mockbus::clearCalls(mockbus::systemd);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].path + " " + calls[0].method,
              "/org/freedesktop/systemd1 RestartUnit");
    EXPECT_THAT(calls[0].args,
                ElementsAre("s:phosphor-virtual-sensor.service", "s:replace"));
}

TEST(Am5Cpu, ClassSetRewritesTheConfigRestartsAndLogsAFailedReplace)
{
    mockbus::reset(mockbus::systemd);
    fs::remove_all(configDir);
    fs::create_directories(configDir);
    writeFile(configFile, std::string_view(config));
    fs::permissions(configFile, fs::perms(0640));
    EXPECT_THAT(call("ipmiSetAM5SpecCPU", {0x00, 0x01}), ElementsAre(0x00));
    expectWrittenAndRestarted();
    EXPECT_THAT(call("ipmiGetAM5SpecCPU", {}), ElementsAre(0x00, 0x01));

    // A file that cannot be replaced is kept and logged.
    std::size_t mark = journalMark();
    failRename = true;
    EXPECT_THAT(call("ipmiSetAM5SpecCPU", {0x00, 0x00}), ElementsAre(0x00));
    failRename = false;
    expectWrittenAndRestarted();
    auto entry =
        waitForJournal("Error writing virtual sensor config file", mark);
    ASSERT_TRUE(entry);
    EXPECT_EQ((*entry)["PRIORITY"] + " " + (*entry)["ERRNO"] + " " +
                  (*entry)["FILE"],
              "3 " + std::to_string(EIO) + " " + configFile);
}
