// portwarden in the board sandbox: the real daemon against the network
// service's mock, the board's real packet filter and real TCP connections
// from the peer namespace.  (board_test.sh drives it through IPMI.)
#include "mockbus.hpp"
#include "sandbox.hpp"

#include <linux/filter.h>
#include <linux/io_uring.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>

#include "keyshelf.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace mockbus = kestrel::test::mockbus;
using namespace kestrel::test;
using testing::HasSubstr;

constexpr const char* ethIface =
    "xyz.openbmc_project.Network.EthernetInterface";
constexpr const char* python = "/usr/bin/python3";
const std::string lib = SB_LIB;
constexpr const char* store = "SshControl";

const std::string net = "/xyz/openbmc_project/network/";

/** The number of reject rules for port 22 that mention `name`. */
int rules(const std::string& name = "")
{
    return std::stoi(runCapture(
        {"sh", "-c",
         "iptables -S | grep -c -e '-i " + name +
             ".*--dport 22 -j REJECT --reject-with icmp-port-unreachable$'"}));
}

/** "connected" or "refused" (or else what bash said): a TCP connection
 *  from the peer namespace to port 22 of a board address. */
std::string peerConnect(const std::string& address)
{
    auto r =
        run({"bash", "-c",
             ". " + lib + "/sandbox-lib.sh && sb_peer timeout 10 bash -c " +
                 "'</dev/tcp/" + address + "/22'"});
    return r.status == 0                                           ? "connected"
           : r.err.find("Connection refused") != std::string::npos ? "refused"
                                                                   : r.err;
}

/** Makes io_uring_setup fail with EPERM, as a container's seccomp does.  Its
 *  number is the same on every architecture, so the filter needs no arch. */
bool refuseIoUring()
{
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog prog{static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0;
}

/** Starts a program in the background, output in `log` and `log`.err. */
pid_t spawn(std::vector<const char*> argv, const fs::path& log,
            bool withoutIoUring = false)
{
    pid_t pid = ::fork();
    if (pid == 0)
    {
        std::freopen(log.c_str(), "a", stdout);
        std::freopen((log.string() + ".err").c_str(), "a", stderr);
        argv.push_back(nullptr);
        if (!withoutIoUring || refuseIoUring())
        {
            ::execv(argv[0], const_cast<char* const*>(argv.data()));
        }
        ::_exit(127);
    }
    return pid;
}

/** Stops it; answers whether it exited 0. */
bool stop(pid_t& pid)
{
    int status = -1;
    bool stopped = pid > 0 && ::kill(pid, SIGTERM) == 0 &&
                   ::waitpid(pid, &status, 0) == pid;
    pid = -1;
    return stopped && status == 0;
}

/** Calls a method of the network mock's control interface. */
void mockCall(std::vector<std::string> args)
{
    args.insert(args.begin(),
                {"busctl", "call", mockbus::network.name,
                 mockbus::network.mainPath, "org.freedesktop.DBus.Mock"});
    ASSERT_EQ(run(args).status, 0);
}

class PortwardenTest : public mockbus::MockTest
{
  protected:
    PortwardenTest() : MockTest({mockbus::network})
    {
    }

    void SetUp() override
    {
        MockTest::SetUp();
        fs::remove_all("/var/lib/keyshelf");
        run({"iptables", "-F", "INPUT"});
    }

    void TearDown() override
    {
        EXPECT_TRUE(stop(pid)) << "portwarden did not exit 0";
    }

    RunResult matchWait(const char* option) const
    {
        return run(
            {python, lib + "/match-wait.py", option, std::to_string(pid)});
    }

    /** Starts the daemon and waits until its InterfacesAdded match is in
     *  place. */
    void start(bool withoutIoUring = false)
    {
        pid = spawn({PORTWARDEN_EXE}, dir / "out", withoutIoUring);
        ASSERT_EQ(matchWait("--rules=1").status, 0);
    }

    std::string out(const char* stream = "out") const
    {
        return readTextFile(dir / stream);
    }

    /** Waits until the daemon has printed `text` on the stream. */
    bool printed(const std::string& text, const char* stream = "out") const
    {
        return waitUntil(
            [&] { return out(stream).find(text) != std::string::npos; });
    }

    fs::path dir = tempDir();
    pid_t pid = -1;
};

// Only eth1 stored, as blocked: the others start allowed, and connections
// from the peer follow each setting and its changes.  A restarted network
// service (SSH back at true) gets the setting again; one rule and watch stay.
// An interface without an SSH default is logged and gets no watch.
TEST_F(PortwardenTest, SettingsAreRestoredStoredAndEnforced)
{
    // A listener on port 22 of the board, for 60 s and 50 connections.
    pid_t listener =
        spawn({python, "-c",
               "import socket\ns = socket.create_server(('0.0.0.0', 22))\n"
               "s.settimeout(60)\nfor _ in range(50): s.accept()[0].close()\n"},
              dir / "listener");
    set_ini_long(store, "eth1", 0);
    start();
    mockCall({"AnnounceInterfaces", "as", "0"});
    for (std::string name : {"usb0", "eth0", "eth1", "eth2"})
    {
        bool allowed = name != "eth1";
        EXPECT_TRUE(printed("New interface monitored: " + name + "\n"));
        EXPECT_EQ(get_ini_long(store, name.c_str(), -1), allowed ? 1 : 0);
        EXPECT_EQ(
            mockbus::getProperty(mockbus::network, net + name, ethIface, "SSH"),
            allowed ? "b:true" : "b:false");
    }
    EXPECT_EQ(rules(), 1);
    EXPECT_EQ(out("out.err"), "");
    EXPECT_TRUE(
        waitUntil([] { return peerConnect("192.0.2.1") == "connected"; }));
    EXPECT_EQ(peerConnect("192.0.2.5"), "refused");
    for (bool allowed : {false, true})
    {
        mockbus::updateProperty(mockbus::network, net + "eth0", ethIface, "SSH",
                                allowed);
        // The filter follows at once, the store right after it.
        EXPECT_TRUE(waitUntil([&] {
            return rules("eth0") == !allowed &&
                   get_ini_long(store, "eth0", -1) == allowed;
        }));
    }
    stop(listener);

    mockbus::stopMock(mockbus::network);
    mockbus::startMock(mockbus::network);
    mockCall({"AnnounceInterfaces", "as", "1", "eth1"});
    EXPECT_TRUE(printed("usb0\nNew interface monitored: eth1\n"));
    EXPECT_EQ(
        mockbus::getProperty(mockbus::network, net + "eth1", ethIface, "SSH"),
        "b:false");
    EXPECT_EQ(std::stoi(matchWait("--count").out), 5);

    // It fails after the settling time.  (fault_test.py sends an SSH value
    // that is not a boolean.)
    auto sent = std::chrono::steady_clock::now();
    mockCall({"AddEthernetInterface", "s", "eth3"});
    const std::string failed = "Failed to handle new EthernetInterface: eth3 "
                               "ssh default failed to find\n";
    ASSERT_TRUE(printed(failed, "out.err"));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 900ms);
    EXPECT_EQ(out("out.err"), failed);
    EXPECT_EQ(get_ini_long(store, "eth3", -1), -1);
    EXPECT_EQ(std::stoi(matchWait("--count").out), 5);
}

// The daemon waits on io_uring where the kernel allows it; where it is
// refused, it re-executes the epoll build beside it, which still works.
TEST_F(PortwardenTest, RunsOnIoUringOrFallsBackToEpoll)
{
    auto fds = [this] {
        return runCapture({"ls", "-l", "/proc/" + std::to_string(pid) + "/fd"});
    };
#ifdef PORTWARDEN_EPOLL_EXE
    // Zero entries: EINVAL where io_uring may be used at all.
    io_uring_params params{};
    if (::syscall(__NR_io_uring_setup, 0, &params) == -1 && errno == EINVAL)
    {
        start();
        EXPECT_THAT(fds(), HasSubstr("anon_inode:[io_uring]"));
        EXPECT_TRUE(stop(pid));
    }
    start(true);
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/exe"),
              fs::path(PORTWARDEN_EPOLL_EXE));
    EXPECT_THAT(out("out.err"), HasSubstr("io_uring unavailable ("));
#else
    start();
#endif
    EXPECT_THAT(fds(), testing::AllOf(HasSubstr("anon_inode:[eventpoll]"),
                                      testing::Not(HasSubstr("io_uring"))));
    mockCall({"AnnounceInterfaces", "as", "1", "eth0"});
    EXPECT_TRUE(printed("New interface monitored: eth0\n"));
}
