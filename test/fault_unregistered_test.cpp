// Faults under the handlers no NetFn or command reaches (called by symbol):
// the AM5 CPU class with systemd absent, failing or stopped and its
// configuration missing, read-only or on a full file system; the PIROM
// EEPROM read-only.  After each fault the handlers still answer and the
// earlier settings are kept.  (The GARP store's faults are the Wake-on-LAN
// rows of fault_test.py: the same store; core_test has the handlers.)
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <ipmid/api.h>

#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <sstream>

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
const std::string pirom = "/sys/bus/i2c/devices/1-0050/eeprom";

/** The answer to "HANDLER BYTE..." (hex) as "CC DATA..." in hex, or "threw"
 *  when an exception left the handler (ipmid answers that 0xFF). */
std::string call(const std::string& request)
{
    std::istringstream in(request);
    std::string handler;
    Bytes data, response(64 * 1024, 0);
    in >> handler >> std::hex;
    for (unsigned byte; in >> byte;)
    {
        data.push_back(static_cast<uint8_t>(byte));
    }
    std::size_t length = data.size();
    try
    {
        response[0] = providerSymbol<ipmid_callback_t>(handler.c_str())(
            0x3A, 0x00, data.data(), response.data() + 1, &length, nullptr);
    }
    catch (const std::exception&)
    {
        return "threw";
    }
    std::ostringstream text;
    text << std::hex << std::setfill('0');
    for (std::size_t i = 0; i <= length; ++i)
    {
        text << (i ? " " : "") << std::setw(2) << int{response[i]};
    }
    return text.str();
}

/** A command of bash with the sandbox's shell library loaded. */
void sh(const std::string& command)
{
    auto r =
        run({"bash", "-c", ". \"$SB_DIR/lib/sandbox-lib.sh\" && " + command});
    ASSERT_EQ(r.status, 0) << command << ": " << r.err;
}

struct Fault
{
    const char* what;
    std::string setup, undo;
};

Fault missing(const char* what, const std::string& p)
{
    return {what, "mv " + p + " " + p + ".away",
            "rm -f " + p + " && mv " + p + ".away " + p};
}

Fault readOnly(const char* what, const std::string& d)
{
    return {what,
            "mount --bind " + d + " " + d + " && mount -o remount,bind,ro " + d,
            "umount " + d};
}

// The directory's files on a 64 KiB tmpfs filled up; dropped afterwards.
Fault full(const char* what, const std::string& d)
{
    return {what,
            "t=$(mktemp -d) && cp -a " + d + "/. $t && mount -t tmpfs -o " +
                "size=64k fault " + d + " && cp -a $t/. " + d + " && { dd " +
                "if=/dev/zero of=" + d + "/.fill bs=1k 2>/dev/null; true; }",
            "umount " + d};
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
    writeFile(configFile, std::string_view(R"([{"Params": {"ConstParam": )"
                                           R"([{"ParamName": "TJMAX", )"
                                           R"("Value": 95}]}}])"));
    fs::create_directories(fs::path(pirom).parent_path());
    writeFile(pirom, std::string(256, '\xff'));
    // The earlier setting: PIROM byte 0x80 = 0x5a.
    ASSERT_EQ(call("ipmiPiromCmd 0 0 0 80 1 5a"), "00 00");

    const std::string mock = "busctl call org.freedesktop.systemd1 "
                             "/org/freedesktop/systemd1 "
                             "org.freedesktop.DBus.Mock ";
    // Requests sent under each of the faults and their answers.
    const struct
    {
        std::vector<std::string> requests, expected;
        std::vector<Fault> faults;
    } groups[] = {
        // A failed restart leaves the handler; the class is kept already.
        {{"ipmiSetAM5SpecCPU 0 1", "ipmiGetAM5SpecCPU"},
         {"threw", "00 01"},
         {{"systemd absent", "sb_stop_mock systemd",
           "sb_start_mock systemd && sb_wait_mock systemd"},
          {"RestartUnit error reply",
           mock + "FailMethod sssssss /org/freedesktop/systemd1 "
                  "org.freedesktop.systemd1.Manager RestartUnit ss o "
                  "org.freedesktop.DBus.Error.Failed injected",
           mock + "Reset"},
          {"systemd stopped", "kill -STOP $(cat $SB_RUN/systemd.pid)",
           "kill -CONT $(cat $SB_RUN/systemd.pid)"}}},
        // The file cannot be rewritten: kept, restart and 0x00 all the same.
        {{"ipmiSetAM5SpecCPU 0 1"},
         {"00"},
         {missing("configuration missing", configFile),
          readOnly("configuration read-only", configDir),
          full("configuration on a full file system", configDir)}},
        // An EEPROM that cannot be opened read-write answers 0x80.
        {{"ipmiPiromCmd 0 0 0 80 1 11", "ipmiPiromCmd 0 0 1 80 1"},
         {"80", "80"},
         {readOnly("PIROM EEPROM read-only", fs::path(pirom).parent_path())}}};
    for (const auto& group : groups)
    {
        for (const auto& fault : group.faults)
        {
            SCOPED_TRACE(fault.what);
            sh(fault.setup);
            std::vector<std::string> got;
            for (const auto& request : group.requests)
            {
                got.push_back(call(request));
            }
            sh(fault.undo);
            EXPECT_EQ(got, group.expected);
            // The earlier settings are kept and the handlers answer again.
            // Only the first group's class 1 (TJMAX 89) stays in the file.
            EXPECT_EQ(readTextFile(configFile).find("\"Value\": 89") !=
                          std::string::npos,
                      &group == groups);
            EXPECT_EQ(call("ipmiPiromCmd 0 0 1 80 1"), "00 5a");
            EXPECT_EQ(call("ipmiSetAM5SpecCPU 0 0"), "00");
            mockbus::reset(mockbus::systemd);
        }
    }
}
