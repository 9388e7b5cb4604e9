// End to end: an unmodified `ipmitool -I dummy` talking to the ipmid host
// with libkestrelipmi loaded.
#include "sandbox.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using testing::HasSubstr;

namespace
{

class IpmitoolTest : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        fs::path dir = kestrel::test::tempDir();
        socketPath = (dir / "ipmi.sock").string();
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        host = ::fork();
        ASSERT_GE(host, 0);
        if (host == 0)
        {
            ::close(fds[0]);
            std::string fd = std::to_string(fds[1]);
            ::execl(IPMID_EXE, IPMID_EXE, "--providers", KESTREL_PROVIDER_DIR,
                    "--dummy-socket", socketPath.c_str(), "--notify-fd",
                    fd.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        char buf[16] = {};
        ASSERT_GT(::read(fds[0], buf, sizeof(buf)), 0) << "ipmid did not start";
        ::close(fds[0]);
        ::setenv("IPMI_DUMMY_SOCK", socketPath.c_str(), 1);
    }

    static void TearDownTestSuite()
    {
        if (host > 0)
        {
            ::kill(host, SIGTERM);
            ::waitpid(host, nullptr, 0);
        }
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

    static inline pid_t host = -1;
    static inline std::string socketPath;
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

} // namespace
