// End to end: unmodified ipmitool and busctl, against ipmid and the library.
#include "ipmid.hpp"
#include "sandbox.hpp"

#include <cstdlib>

#include <gtest/gtest.h>

using namespace kestrel::test;

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

TEST(Ipmitool, AnswersReachIpmitoolAndBusctl)
{
    // ipmid gets the simulated libgpiod in place of the real one.
    IpmidProcess host({tempDir() / "ipmi.sock", {GPIOD_DOUBLE}});
    ASSERT_TRUE(host.ready()) << "ipmid did not start";
    ::setenv("IPMI_DUMMY_SOCK", host.dummySocket().c_str(), 1);
    // Responses print as hex lines, sixteen bytes a line.
    EXPECT_EQ(raw("0x3a 0xaa").out, "\n");
    EXPECT_EQ(raw("0x3a 0xab").out,
              " ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff\n"
              " ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff\n");

    // busctl calls the execute method beside ipmitool (docs/commands.md
    // shows an error answer there), and the same host serves both.
    EXPECT_EQ(execute("58 0 189 1 2 0").out, "(yyyyay) 59 0 189 0 0\n");
    EXPECT_EQ(raw("0x3a 0xbe").out, " 02\n");
}
