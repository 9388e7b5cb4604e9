// Faults under the handlers no NetFn or command reaches (called by symbol):
// the AM5 CPU class with systemd absent, failing or stopped and its
// configuration missing, read-only or on a full file system; the PIROM
// EEPROM missing or read-only; the GARP setting's store missing, read-only or
// full.  Each row is the fault, the requests and their expected answers;
// after each the handlers still answer and the earlier setting is kept.
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <ipmid/api.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include <gmock/gmock.h>

namespace fs = std::filesystem;
using namespace kestrel::test;

namespace
{

// A stopped peer costs two seconds here, not sd-bus's default 25: each bus
// connection of the process reads the variable at its first call.
const int shortBusTimeout = ::setenv("SYSTEMD_BUS_TIMEOUT", "2", 0);

const std::string configDir = "/usr/share/phosphor-virtual-sensor";
const std::string configFile = configDir + "/virtual_sensor_config.json";
const std::string piromDir = "/sys/bus/i2c/devices/1-0050";
const std::string storeDir = fs::path(KEYSHELF_PATH).parent_path();
constexpr auto config =
    R"([{"Params": {"ConstParam": [{"ParamName": "TJMAX", "Value": 95}]}}])";

std::string hex(uint8_t byte)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02x", byte);
    return text;
}

/** The answer as "CC DATA..." in hex, or "threw" when an exception left the
 *  handler (ipmid answers that 0xFF). */
std::string call(const char* handler, Bytes request)
{
    Bytes response(64 * 1024, 0);
    std::size_t length = request.size();
    std::string text;
    try
    {
        auto cc = providerSymbol<ipmid_callback_t>(handler)(
            0x3A, 0x00, request.data(), response.data(), &length, nullptr);
        text = hex(cc);
    }
    catch (const std::exception&)
    {
        return "threw";
    }
    for (std::size_t i = 0; i < length; ++i)
    {
        text += " " + hex(response[i]);
    }
    return text;
}

void sh(const std::string& command)
{
    auto r = run({"sh", "-c", command});
    ASSERT_EQ(r.status, 0) << command << ": " << r.err;
}

using Undo = std::function<void()>;
using Fault = std::function<Undo()>;

Fault none = [] { return Undo([] {}); };

Fault missing(const std::string& path)
{
    return [path] {
        fs::rename(path, path + ".away");
        return Undo([path] {
            fs::remove(path);
            fs::rename(path + ".away", path);
        });
    };
}

Fault readOnly(const std::string& dir)
{
    return [dir] {
        sh("mount --bind " + dir + " " + dir + " && mount -o remount,bind,ro " +
           dir + " " + dir);
        return Undo([dir] { sh("umount " + dir); });
    };
}

// The directory's files on a 64 KiB tmpfs filled up; dropped afterwards.
Fault full(const std::string& dir)
{
    return [dir] {
        sh("d=$(mktemp -d) && cp -a " + dir + "/. $d && mount -t tmpfs -o " +
           "size=64k fault " + dir + " && cp -a $d/. " + dir + " && { dd " +
           "if=/dev/zero of=" + dir + "/.fill bs=1k 2>/dev/null; true; }");
        return Undo([dir] { sh("umount " + dir); });
    };
}

Fault systemdStopped = [] {
    pid_t pid = std::stoi(
        readTextFile(std::string(std::getenv("SB_RUN")) + "/systemd.pid"));
    ::kill(pid, SIGSTOP);
    return Undo([pid] { ::kill(pid, SIGCONT); });
};

Fault systemdAbsent = [] {
    mockbus::stopMock(mockbus::systemd);
    return Undo([] { mockbus::startMock(mockbus::systemd); });
};

Fault systemdFailing = [] {
    mockbus::failMethod(mockbus::systemd, "/org/freedesktop/systemd1",
                        "org.freedesktop.systemd1.Manager", "RestartUnit", "ss",
                        "o", "org.freedesktop.DBus.Error.Failed", "injected");
    return Undo([] { mockbus::reset(mockbus::systemd); });
};

struct Row
{
    const char* what;
    Fault fault;
    std::vector<std::pair<const char*, Bytes>> requests;
    std::vector<std::string> expected;
    const char* tjmax = "95"; // in the configuration afterwards
};

const char* tjmaxValue()
{
    auto text = readTextFile(configFile);
    return text.find("\"Value\": 89") != std::string::npos ? "89" : "95";
}

} // namespace

struct FaultTest : mockbus::MockTest
{
    FaultTest() : MockTest({mockbus::systemd})
    {
    }
};

TEST_F(FaultTest, UnregisteredHandlersUnderFaults)
{
    fs::create_directories(configDir);
    writeFile(configFile, std::string_view(config));
    fs::create_directories(piromDir);
    writeFile(piromDir + "/eeprom", std::string(256, '\xff'));
    fs::create_directories(storeDir);
    // The earlier settings: GARP on, PIROM byte 0x80 = 0x5a.
    ASSERT_EQ(call("ipmiGarp", {0x00, 0x00, 0x01}), "00");
    ASSERT_EQ(call("ipmiPiromCmd", {0x00, 0x00, 0x00, 0x80, 0x01, 0x5a}),
              "00 00");

    const Bytes am5Class1{0x00, 0x01};
    const Bytes garpOff{0x00, 0x00, 0x00};
    const Bytes garpGet{0x00, 0x01};
    const Bytes piromWrite{0x00, 0x00, 0x00, 0x80, 0x01, 0x11};
    const Bytes piromRead{0x00, 0x00, 0x01, 0x80, 0x01};
    const std::vector<Row> rows = {
        // A failed restart leaves the handler; the class is kept already.
        {"AM5 class, systemd absent",
         systemdAbsent,
         {{"ipmiSetAM5SpecCPU", am5Class1}, {"ipmiGetAM5SpecCPU", {}}},
         {"threw", "00 01"},
         "89"},
        {"AM5 class, RestartUnit error reply",
         systemdFailing,
         {{"ipmiSetAM5SpecCPU", am5Class1}, {"ipmiGetAM5SpecCPU", {}}},
         {"threw", "00 01"},
         "89"},
        {"AM5 class, systemd stopped",
         systemdStopped,
         {{"ipmiSetAM5SpecCPU", am5Class1}, {"ipmiGetAM5SpecCPU", {}}},
         {"threw", "00 01"},
         "89"},
        // The file cannot be rewritten: kept, restart and 0x00 all the same.
        {"AM5 class, configuration missing",
         missing(configFile),
         {{"ipmiSetAM5SpecCPU", am5Class1}},
         {"00"}},
        {"AM5 class, configuration read-only",
         readOnly(configDir),
         {{"ipmiSetAM5SpecCPU", am5Class1}},
         {"00"}},
        {"AM5 class, configuration on a full file system",
         full(configDir),
         {{"ipmiSetAM5SpecCPU", am5Class1}},
         {"00"}},
        // An EEPROM that cannot be opened answers 0x80.
        {"PIROM, EEPROM missing",
         missing(piromDir + "/eeprom"),
         {{"ipmiPiromCmd", piromWrite}, {"ipmiPiromCmd", piromRead}},
         {"80", "80"}},
        {"PIROM, EEPROM read-only",
         readOnly(piromDir),
         {{"ipmiPiromCmd", piromWrite}, {"ipmiPiromCmd", piromRead}},
         {"80", "80"}},
        // Store failures are not detected: 0x00, the old value stays.
        {"GARP, store missing",
         missing(KEYSHELF_PATH),
         {{"ipmiGarp", garpOff}, {"ipmiGarp", garpGet}},
         {"00", "00 00"}},
        {"GARP, store read-only",
         readOnly(storeDir),
         {{"ipmiGarp", garpOff}, {"ipmiGarp", garpGet}},
         {"00", "00 01"}},
        {"GARP, store on a full file system",
         full(storeDir),
         {{"ipmiGarp", garpOff}, {"ipmiGarp", garpGet}},
         {"00", "00 01"}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.what);
        auto undo = row.fault();
        std::vector<std::string> got;
        for (const auto& [handler, request] : row.requests)
        {
            got.push_back(call(handler, request));
        }
        undo();
        EXPECT_EQ(got, row.expected);
        // The earlier settings are kept and the handlers answer again.
        EXPECT_STREQ(tjmaxValue(), row.tjmax);
        EXPECT_EQ(call("ipmiGarp", garpGet), "00 01");
        EXPECT_EQ(call("ipmiPiromCmd", piromRead), "00 5a");
        EXPECT_EQ(call("ipmiSetAM5SpecCPU", {0x00, 0x00}), "00");
        mockbus::reset(mockbus::systemd);
    }
}
