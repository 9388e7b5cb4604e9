// End to end: unmodified ipmitool and busctl, against ipmid and the library.
#include "ipmid.hpp"
#include "sandbox.hpp"

#include <cstdlib>
#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace kestrel::test;
using testing::HasSubstr;

// The clients have no timeouts of their own: a server fault would hang them.
static RunResult raw(const std::string& args)
{
    return run(
        {"/bin/sh", "-c", "exec timeout 10 ipmitool -I dummy raw " + args});
}

// One call of the execute method: NetFn, LUN, command, data, no options.
static RunResult execute(const std::string& request)
{
    return run({"/bin/sh", "-c",
                "exec timeout 10 busctl --system call "
                "xyz.openbmc_project.Ipmi.Host /xyz/openbmc_project/Ipmi "
                "xyz.openbmc_project.Ipmi.Server execute 'yyyaya{sv}' " +
                    request});
}

struct IpmitoolTest : testing::Test
{
    // ipmid gets the simulated libgpiod in place of the real one.
    static void SetUpTestSuite()
    {
        host = std::make_unique<IpmidProcess>(
            IpmidProcess::Options{tempDir() / "ipmi.sock", {GPIOD_DOUBLE}});
        ASSERT_TRUE(host->ready()) << "ipmid did not start";
        ::setenv("IPMI_DUMMY_SOCK", host->dummySocket().c_str(), 1);
    }

    static inline std::unique_ptr<IpmidProcess> host;
};

TEST_F(IpmitoolTest, AnswersAndErrorsReachIpmitoolAndBusctl)
{
    // Responses print as hex lines, sixteen bytes a line.
    EXPECT_EQ(raw("0x3a 0xaa").out, "\n");
    EXPECT_EQ(raw("0x3a 0xab").out,
              " ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff\n"
              " ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff\n");

    // Errors reach the client, and the host keeps serving (below).
    const std::pair<const char*, const char*> rows[] = {
        {"0x3a 0xaa $(printf ' 0x41%.0s' $(seq 33))",
         "rsp=0xc7): Request data length invalid"},
        {"0x3a 0xe3 0x44", "rsp=0xcc"}, // a typed handler's refusal
        {"0x3f 0xff", "rsp=0xc1"}, // the numbers of the client's closing BYE
    };
    for (const auto& [args, error] : rows)
    {
        RunResult r = raw(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_THAT(r.err, HasSubstr(error));
    }

    // busctl calls the execute method beside ipmitool.  Get BMC Interface:
    // NetFn 0x32 (50) answers as 0x33 (51).
    EXPECT_EQ(execute("50 0 61 3 1 0 5 0").out, "(yyyyay) 51 0 61 0 3 7 0 7\n");
    EXPECT_EQ(execute("58 0 189 1 2 0").out, "(yyyyay) 59 0 189 0 0\n");
    // Errors are answers too, and the same host serves ipmitool meanwhile.
    EXPECT_EQ(execute("58 0 189 1 5 0").out, "(yyyyay) 59 0 189 193 0\n");
    EXPECT_EQ(raw("0x3a 0xbe").out, " 02\n");
}
