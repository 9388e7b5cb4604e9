// End to end: an unmodified `ipmitool -I dummy`, and `busctl call` on the
// host's D-Bus front end, talking to the ipmid host with libkestrelipmi
// loaded, against the sandbox's mocked BMC services.
#include "ipmid.hpp"
#include "sandbox.hpp"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using testing::HasSubstr;

namespace
{

class IpmitoolTest : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        // ipmid gets the simulated libgpiod in place of the real one.
        host = std::make_unique<kestrel::test::IpmidProcess>(
            kestrel::test::IpmidProcess::Options{
                .dummySocket = kestrel::test::tempDir() / "ipmi.sock",
                .preload = {GPIOD_DOUBLE},
                .log = {}});
        ASSERT_TRUE(host->ready()) << "ipmid did not start";
        ::setenv("IPMI_DUMMY_SOCK", host->dummySocket().c_str(), 1);
    }

    static void TearDownTestSuite()
    {
        host.reset();
    }

    struct Result
    {
        int status;
        std::string out;
        std::string err;
    };

    // ipmitool has no timeouts of its own: a server fault would hang it.
    Result raw(const std::string& args)
    {
        fs::path errFile = kestrel::test::tempDir() / "stderr";
        Result r{};
        r.out = kestrel::test::runCapture(
            {"/bin/sh", "-c",
             "exec timeout 10 ipmitool -I dummy raw " + args + " 2>" +
                 errFile.string()},
            &r.status);
        auto e = kestrel::test::readFile(errFile);
        r.err.assign(e.begin(), e.end());
        return r;
    }

    // busctl's output of one command, with its exit status.
    static Result busctl(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv = {"timeout", "10", "busctl", "--system"};
        argv.insert(argv.end(), args.begin(), args.end());
        auto run = kestrel::test::run(argv);
        return {run.status, run.out, run.err};
    }

    static inline std::unique_ptr<kestrel::test::IpmidProcess> host;
};

TEST_F(IpmitoolTest, ChassisIdRoundTrip)
{
    Result set = raw("0x3a 0xaa 0x41 0x42 0x43");
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.out, "\n");

    Result get = raw("0x3a 0xab");
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(get.out, " 41 42 43 00\n");

    raw("0x3a 0xaa");
    get = raw("0x3a 0xab");
    EXPECT_EQ(get.out, " ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff\n"
                       " ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff\n");
}

TEST_F(IpmitoolTest, ErrorsReachTheClientAndTheHostKeepsServing)
{
    std::string tooLong;
    for (int i = 0; i < 33; ++i)
    {
        tooLong += " 0x41";
    }
    Result r = raw("0x3a 0xaa" + tooLong);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("rsp=0xc7): Request data length invalid"));

    r = raw("0x3a 0x55");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("rsp=0xc1): Invalid command"));

    // The same numbers as the client's closing BYE still get an answer.
    r = raw("0x3f 0xff");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("rsp=0xc1"));

    EXPECT_EQ(raw("0x3a 0xab").status, 0);
}

TEST_F(IpmitoolTest, PostStatusReachesTheHostStateService)
{
    Result set = raw("0x3a 0xbd 0x03");
    EXPECT_EQ(set.status, 0) << set.err;
    Result progress =
        busctl({"get-property", "xyz.openbmc_project.State.Host",
                "/xyz/openbmc_project/state/host0",
                "xyz.openbmc_project.State.Boot.Progress", "BootProgress"});
    EXPECT_EQ(progress.out, "s \"xyz.openbmc_project.State.Boot.Progress."
                            "ProgressStages.SystemInitComplete\"\n")
        << progress.err;
    EXPECT_EQ(raw("0x3a 0xbe").out, " 03\n");
}

TEST_F(IpmitoolTest, BusctlIsAClientOfTheExecuteMethod)
{
    const std::vector<std::string> execute = {"call",
                                              "xyz.openbmc_project.Ipmi.Host",
                                              "/xyz/openbmc_project/Ipmi",
                                              "xyz.openbmc_project.Ipmi.Server",
                                              "execute",
                                              "yyyaya{sv}"};
    auto call = [&](std::vector<std::string> request) {
        std::vector<std::string> args = execute;
        args.insert(args.end(), request.begin(), request.end());
        return busctl(args);
    };
    // Get BMC Interface: NetFn 0x32 (50) answers as 0x33 (51).
    Result r = call({"50", "0", "61", "3", "1", "0", "5", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "(yyyyay) 51 0 61 0 3 7 0 7\n");

    r = call({"58", "0", "189", "1", "2", "0"});
    EXPECT_EQ(r.out, "(yyyyay) 59 0 189 0 0\n") << r.err;
    r = call({"58", "0", "190", "0", "0"});
    EXPECT_EQ(r.out, "(yyyyay) 59 0 190 0 1 2\n") << r.err;

    // Errors are answers too, and the same host serves ipmitool meanwhile.
    r = call({"58", "0", "189", "1", "5", "0"});
    EXPECT_EQ(r.out, "(yyyyay) 59 0 189 193 0\n") << r.err;
    EXPECT_EQ(raw("0x3a 0xbe").out, " 02\n");
}

TEST_F(IpmitoolTest, RegistersSpeakerAndUidVerifyOnTheBoardMemory)
{
    Result set = raw("0x3a 0xa2 0x1e 0x6e 0x20 0x3c 0x00 0x00 0x00 0x02");
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(raw("0x3a 0xa3 0x1e 0x6e 0x20 0x3c").out, " 00 00 00 02\n");
    EXPECT_EQ(raw("0x3a 0x69 0x01").out, " 01\n");

    // One long beep: the tone, then after 600 ms the rest value.
    EXPECT_EQ(raw("0x3a 0xb4 0x01 0x00").status, 0);
    std::string speaker;
    for (int i = 0; i < 60 && speaker != " ff 11 5f 05\n"; ++i)
    {
        ::usleep(50000);
        speaker = raw("0x3a 0xa3 0x1e 0x78 0x60 0x04").out;
    }
    EXPECT_EQ(speaker, " ff 11 5f 05\n");
}

TEST_F(IpmitoolTest, I2cRequestsReachTheBusLibrary)
{
    // The sandbox has no I2C adapters: the probe finds nothing.
    Result probe = raw("0x3a 0x52 0x03 0xa0 0x00");
    EXPECT_EQ(probe.status, 1);
    EXPECT_THAT(probe.err, HasSubstr("rsp=0xc1"));
    Result odd = raw("0x3a 0x52 0x03 0xa1 0x01");
    EXPECT_EQ(odd.status, 1);
    EXPECT_THAT(odd.err, HasSubstr("rsp=0xc7"));
}

TEST_F(IpmitoolTest, FirmwareVersionsReachTheUpdater)
{
    Result set = raw("0x3a 0x86 0x00 0x01 0x05 0x00 0x00 0x03");
    EXPECT_EQ(set.out, " 00\n") << set.err;
    EXPECT_EQ(raw("0x3a 0x87 0x00").out,
              " 01 05 00 00 03 00 00 00 00 00 00 00 00 00 00 00\n");
    const std::vector<std::string> version = {
        "get-property", "xyz.openbmc_project.Software.BMC.Updater",
        "/xyz/openbmc_project/software/bios_active",
        "xyz.openbmc_project.Software.Version", "Version"};
    EXPECT_EQ(busctl(version).out, "s \"1.05.03\"\n");
    EXPECT_EQ(raw("0x3a 0xb2 0x01 0x02 0x1a 0x00").out, " 00\n");
    EXPECT_EQ(busctl(version).out, "s \"L2.1a\"\n");
    EXPECT_THAT(raw("0x3a 0x87 0x1d").err, HasSubstr("rsp=0xc1"));
}

TEST_F(IpmitoolTest, MiscSubcommands)
{
    fs::create_directories("/sys/bus/spi/devices/spi0.1/spi-nor");
    std::ofstream("/sys/bus/spi/devices/spi0.1/spi-nor/jedec_id") << "ef4019\n";
    EXPECT_EQ(raw("0x3a 0xe3 0x43 0x01").out, " ef 40 19\n");
    EXPECT_THAT(raw("0x3a 0xe3 0x43 0x02").err, HasSubstr("rsp=0xcc"));
    EXPECT_EQ(raw("0x3a 0xe3 0xb0 0x00 0x01").status, 0);
    EXPECT_EQ(raw("0x3a 0xe3 0xb0 0x01").out, " 01\n");
    EXPECT_THAT(raw("0x3a 0xe3 0x44").err, HasSubstr("rsp=0xcc"));
}

TEST_F(IpmitoolTest, NetworkCommandsReachTheirStores)
{
    // MAC address slot 0 in the EEPROM, and the fixed MAC info.
    EXPECT_EQ(raw("0x3a 0xa0 0x00 0x02 0x11 0x22 0x33 0x44 0x55").status, 0);
    EXPECT_EQ(raw("0x3a 0xa1 0x00").out, " 02 11 22 33 44 55\n");
    EXPECT_EQ(raw("0x3a 0xe2 0x01").out, " 02 01 02\n");

    // NC-SI port: driver rebound and networkd restarted through the stand-in.
    fs::create_directories("/sys/bus/platform/drivers/ftgmac100");
    EXPECT_EQ(raw("0x3a 0x20 0x01").status, 0);
    EXPECT_EQ(raw("0x3a 0x21").out, " 01\n");
    auto log = kestrel::test::readFile(fs::path(std::getenv("SB_RUN")) /
                                       "commands.log");
    EXPECT_THAT(std::string(log.begin(), log.end()),
                HasSubstr("systemctl restart systemd-networkd\n"));

    // SSH on eth2, through the network service.
    EXPECT_EQ(raw("0x3a 0x22 0x03 0x00").status, 0);
    EXPECT_EQ(raw("0x3a 0x23 0x03").out, " 00\n");
    EXPECT_EQ(busctl({"get-property", "xyz.openbmc_project.Network",
                      "/xyz/openbmc_project/network/eth2",
                      "xyz.openbmc_project.Network.EthernetInterface", "SSH"})
                  .out,
              "b false\n");
    EXPECT_THAT(raw("0x3a 0x23 0x04").err, HasSubstr("rsp=0xcc"));
}

TEST_F(IpmitoolTest, FanDutiesAndSensorSwitches)
{
    // The PWM controller as hwmon2, two outputs.
    fs::path hwmon = "/sys/bus/platform/drivers/aspeed_pwm_tacho/"
                     "1e786000.pwm-tacho-controller/hwmon/hwmon2";
    fs::create_directories(hwmon);
    for (const char* name : {"pwm1", "pwm2"})
    {
        kestrel::test::writeFile(hwmon / name, "255\n");
    }
    EXPECT_EQ(raw("0x3a 0x01 0x32 0x64").status, 0);
    EXPECT_EQ(kestrel::test::readTextFile(hwmon / "pwm1"), "127");
    EXPECT_EQ(raw("0x3a 0x02").out, " 31 64 00 00 00 00 00 00\n");
    EXPECT_EQ(raw("0x3a 0x01").status, 0);

    EXPECT_EQ(raw("0x3a 0x0c 0x14 0x32").status, 0);
    EXPECT_THAT(raw("0x3a 0x0d").out, testing::StartsWith(" 14 32"));
    EXPECT_THAT(raw("0x3a 0x0c 0x13").err, HasSubstr("rsp=0xcc"));

    EXPECT_EQ(raw("0x3a 0x88 0x00").status, 0);
    EXPECT_EQ(raw("0x3a 0x89").out, " 00\n");
    EXPECT_EQ(raw("0x3a 0xe6 0x00 0x01").status, 0);
    EXPECT_EQ(raw("0x3a 0xe7 0x00").out, " 01\n");
}

TEST_F(IpmitoolTest, GpioLinesAndTheSystemFaultLed)
{
    EXPECT_EQ(raw("0x3a 0x10 0x07 0x02 0x01").out, " 07 02 01\n");
    EXPECT_EQ(raw("0x3a 0x11 0x07").out, " 07 01 02 01\n");
    EXPECT_EQ(raw("0x3a 0x11 0xff").out, " ff 01 ff ff\n");
    EXPECT_THAT(raw("0x3a 0x10 0xff 0x02 0x01").err, HasSubstr("rsp=0xcc"));

    EXPECT_EQ(raw("0x3a 0x10 0x33 0x02 0x01").out, " 33 02 00\n");
    EXPECT_EQ(busctl({"get-property", "xyz.openbmc_project.LED.GroupManager",
                      "/xyz/openbmc_project/led/groups/system_fault",
                      "xyz.openbmc_project.Led.Group", "Asserted"})
                  .out,
              "b true\n");
}

} // namespace
