// End to end: an unmodified `ipmitool -I dummy`, and `busctl call` on the
// D-Bus front end, against the ipmid host with libkestrelipmi loaded.
#include "ipmid.hpp"
#include "sandbox.hpp"

#include <cstdlib>
#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using kestrel::test::RunResult;
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
                .preload = {GPIOD_DOUBLE}});
        ASSERT_TRUE(host->ready()) << "ipmid did not start";
        ::setenv("IPMI_DUMMY_SOCK", host->dummySocket().c_str(), 1);
    }

    // ipmitool has no timeouts of its own: a server fault would hang it.
    static RunResult raw(const std::string& args)
    {
        return kestrel::test::run(
            {"/bin/sh", "-c", "exec timeout 10 ipmitool -I dummy raw " + args});
    }

    // One call of the execute method, with its request as busctl arguments.
    static RunResult execute(const std::vector<std::string>& request)
    {
        std::vector<std::string> argv = {"timeout",
                                         "10",
                                         "busctl",
                                         "--system",
                                         "call",
                                         "xyz.openbmc_project.Ipmi.Host",
                                         "/xyz/openbmc_project/Ipmi",
                                         "xyz.openbmc_project.Ipmi.Server",
                                         "execute",
                                         "yyyaya{sv}"};
        argv.insert(argv.end(), request.begin(), request.end());
        return kestrel::test::run(argv);
    }

    static inline std::unique_ptr<kestrel::test::IpmidProcess> host;
};

TEST_F(IpmitoolTest, ResponsesPrintAsHexLines)
{
    RunResult set = raw("0x3a 0xaa 0x41 0x42 0x43");
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.out, "\n");
    RunResult get = raw("0x3a 0xab");
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(get.out, " 41 42 43 00\n");

    // Sixteen bytes a line.
    raw("0x3a 0xaa");
    EXPECT_EQ(raw("0x3a 0xab").out,
              " ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff\n"
              " ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff\n");
}

TEST_F(IpmitoolTest, ErrorsReachTheClientAndTheHostKeepsServing)
{
    RunResult r = raw("0x3a 0xaa $(printf ' 0x41%.0s' $(seq 33))");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("rsp=0xc7): Request data length invalid"));

    r = raw("0x3a 0x55");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("rsp=0xc1): Invalid command"));

    // A typed handler's refusal, and the numbers of the client's closing
    // BYE, which still get an answer.
    EXPECT_THAT(raw("0x3a 0xe3 0x44").err, HasSubstr("rsp=0xcc"));
    r = raw("0x3f 0xff");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("rsp=0xc1"));

    EXPECT_EQ(raw("0x3a 0xab").status, 0);
}

TEST_F(IpmitoolTest, BusctlIsAClientOfTheExecuteMethodBesideIpmitool)
{
    // Get BMC Interface: NetFn 0x32 (50) answers as 0x33 (51).
    RunResult r = execute({"50", "0", "61", "3", "1", "0", "5", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "(yyyyay) 51 0 61 0 3 7 0 7\n");

    r = execute({"58", "0", "189", "1", "2", "0"});
    EXPECT_EQ(r.out, "(yyyyay) 59 0 189 0 0\n") << r.err;
    // Errors are answers too, and the same host serves ipmitool meanwhile.
    r = execute({"58", "0", "189", "1", "5", "0"});
    EXPECT_EQ(r.out, "(yyyyay) 59 0 189 193 0\n") << r.err;
    EXPECT_EQ(raw("0x3a 0xbe").out, " 02\n");
}

} // namespace
