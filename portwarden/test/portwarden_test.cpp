// portwarden in the board sandbox: the real daemon against the network
// service's mock, the real packet filter of the board's namespace, real TCP
// connections from the peer namespace, and the IPMI commands through ipmid.
#include "ipmid.hpp"
#include "mockbus.hpp"
#include "sandbox.hpp"

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "keyshelf.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace mockbus = kestrel::test::mockbus;
using kestrel::test::run;
using testing::HasSubstr;
using testing::IsEmpty;
using namespace std::chrono_literals;

namespace
{

constexpr const char* ethIface =
    "xyz.openbmc_project.Network.EthernetInterface";
constexpr const char* python = "/usr/bin/python3";
const std::string lib = SB_LIB;
constexpr const char* store = "SshControl";

std::string path(const std::string& name)
{
    return "/xyz/openbmc_project/network/" + name;
}

/** The number of reject rules for port 22 that mention `name`. */
int rules(const std::string& name = "")
{
    std::istringstream in(kestrel::test::runCapture({"iptables", "-S"}));
    int n = 0;
    for (std::string line; std::getline(in, line);)
    {
        n += static_cast<int>(line.find("-i " + name) != std::string::npos &&
                              line.ends_with("--dport 22 -j REJECT "
                                             "--reject-with "
                                             "icmp-port-unreachable"));
    }
    return n;
}

/** "connected" or "refused": a TCP connection from the peer namespace to
 *  port 22 of a board address. */
std::string peerConnect(const std::string& address)
{
    return run({"bash", "-c",
                ". " + lib + "/sandbox-lib.sh && sb_peer " + python +
                    " -c \"import socket\ntry:\n"
                    " socket.create_connection(('" +
                    address +
                    "', 22), 10); print('connected', end='')\n"
                    "except ConnectionRefusedError: print('refused', "
                    "end='')\""})
        .out;
}

/** Makes io_uring_setup fail with EPERM from now on, as a container's
 *  seccomp policy does. */
bool refuseIoUring()
{
#if defined(__x86_64__)
    constexpr unsigned arch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr unsigned arch = AUDIT_ARCH_AARCH64;
#else
    return false;
#endif
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog prog{static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0;
}

/** Starts a program in the background, its output in `log`. */
pid_t spawn(std::vector<std::string> argv, const fs::path& log,
            bool withoutIoUring = false)
{
    pid_t pid = ::fork();
    if (pid == 0)
    {
        std::freopen(log.c_str(), "a", stdout);
        std::freopen((log.string() + ".err").c_str(), "a", stderr);
        std::vector<char*> args;
        for (auto& arg : argv)
        {
            args.push_back(arg.data());
        }
        args.push_back(nullptr);
        if (!withoutIoUring || refuseIoUring())
        {
            ::execv(args[0], args.data());
        }
        ::_exit(127);
    }
    return pid;
}

/** Stops it; answers whether it exited 0. */
bool stop(pid_t& pid)
{
    int status = -1;
    if (pid > 0 && ::kill(pid, SIGTERM) == 0)
    {
        ::waitpid(pid, &status, 0);
    }
    pid = -1;
    return status == 0;
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
        dir = kestrel::test::tempDir();
    }

    void TearDown() override
    {
        EXPECT_TRUE(stop(pid)) << "portwarden did not exit 0";
    }

    /** Starts the daemon and waits until its InterfacesAdded match is in
     *  place. */
    void start(bool withoutIoUring = false)
    {
        pid = spawn({PORTWARDEN_EXE}, dir / "out", withoutIoUring);
        ASSERT_EQ(
            run({python, lib + "/match-wait.py", std::to_string(pid)}).status,
            0);
    }

    int matchRules() const
    {
        return std::stoi(run({python, lib + "/match-wait.py", "--count",
                              std::to_string(pid)})
                             .out);
    }

    std::string out(const char* stream = "out") const
    {
        return kestrel::test::readTextFile(dir / stream);
    }
    std::string err() const
    {
        return out("out.err");
    }
    /** Waits until the daemon has printed `text` on the stream. */
    bool printed(const std::string& text, const char* stream = "out") const
    {
        return kestrel::test::waitUntil(
            [&] { return out(stream).find(text) != std::string::npos; });
    }

    static void announce(std::vector<std::string> names)
    {
        std::vector<std::string> argv = {"busctl",
                                         "call",
                                         mockbus::network.name,
                                         mockbus::network.mainPath,
                                         "org.freedesktop.DBus.Mock",
                                         "AnnounceInterfaces",
                                         "as",
                                         std::to_string(names.size())};
        argv.insert(argv.end(), names.begin(), names.end());
        ASSERT_EQ(run(argv).status, 0);
    }

    static void setSsh(const std::string& name, bool allowed)
    {
        ASSERT_GE(sd_bus_set_property(mockbus::bus(), mockbus::network.name,
                                      path(name).c_str(), ethIface, "SSH",
                                      nullptr, "b", int{allowed}),
                  0);
    }

    static std::string ssh(const std::string& name)
    {
        return mockbus::getProperty(mockbus::network, path(name), ethIface,
                                    "SSH");
    }

    fs::path dir;
    pid_t pid = -1;
};

// A first start with only eth1 stored, as blocked: the others start
// allowed.  An announcement repeated by a restarted network service (SSH
// back at true) pushes the setting again and keeps one rule and one watch.
TEST_F(PortwardenTest, StartRestoresStoredSettingsOnce)
{
    set_ini_long(store, "eth1", 0);
    start();
    announce({});
    for (std::string name : {"usb0", "eth0", "eth1", "eth2"})
    {
        bool allowed = name != "eth1";
        EXPECT_TRUE(printed("New interface monitored: " + name + "\n"));
        EXPECT_EQ(get_ini_long(store, name.c_str(), -1), allowed ? 1 : 0);
        EXPECT_EQ(ssh(name), allowed ? "b:true" : "b:false");
    }
    EXPECT_EQ(rules(), 1);
    EXPECT_EQ(rules("eth1"), 1);
    EXPECT_EQ(err(), "");

    mockbus::reset(mockbus::network);
    announce({"eth1"});
    EXPECT_TRUE(printed("usb0\nNew interface monitored: eth1\n"));
    EXPECT_EQ(ssh("eth1"), "b:false");
    EXPECT_EQ(rules(), 1);
    EXPECT_EQ(matchRules(), 5);
}

TEST_F(PortwardenTest, UnknownAndNonEthernetInterfacesGetNoWatch)
{
    start();
    ASSERT_GE(sd_bus_emit_signal(
                  mockbus::bus(), mockbus::network.mainPath,
                  "org.freedesktop.DBus.ObjectManager", "InterfacesAdded",
                  "oa{sa{sv}}", path("eth0/ipv4/1").c_str(), 1,
                  "xyz.openbmc_project.Network.IP", 1, "Address", "s", "x"),
              0);
    auto sent = std::chrono::steady_clock::now();
    run({"busctl", "call", mockbus::network.name, mockbus::network.mainPath,
         "org.freedesktop.DBus.Mock", "AddEthernetInterface", "s", "eth3"});
    const std::string failed = "Failed to handle new EthernetInterface: eth3 "
                               "ssh default failed to find\n";
    ASSERT_TRUE(printed(failed, "out.err"));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 900ms);
    // Had the IP object started a timer, it would have failed first.
    EXPECT_EQ(err(), failed);
    EXPECT_EQ(out(), "");
    EXPECT_EQ(rules(), 0);
    EXPECT_EQ(get_ini_long(store, "eth3", -1), -1);
    EXPECT_EQ(matchRules(), 1);
}

TEST_F(PortwardenTest, RealConnectionsFollowTheSetting)
{
    // A listener on port 22 of the board, for 60 s and 50 connections.
    pid_t listener =
        spawn({python, "-c",
               "import socket\ns = socket.create_server(('0.0.0.0', 22))\n"
               "s.settimeout(60)\nfor _ in range(50): s.accept()[0].close()\n"},
              dir / "listener");
    start();
    announce({"eth0", "eth1"});
    ASSERT_TRUE(printed("New interface monitored: eth1\n")) << err();
    EXPECT_TRUE(kestrel::test::waitUntil(
        [] { return peerConnect("192.0.2.1") == "connected"; }));

    setSsh("eth1", false);
    setSsh("eth0", false);
    ASSERT_TRUE(kestrel::test::waitUntil([] { return rules("eth0") == 1; }));
    EXPECT_EQ(peerConnect("192.0.2.1"), "refused");
    EXPECT_EQ(get_ini_long(store, "eth0", -1), 0);

    setSsh("eth0", true);
    ASSERT_TRUE(kestrel::test::waitUntil([] { return rules("eth0") == 0; }));
    EXPECT_EQ(peerConnect("192.0.2.1"), "connected");
    EXPECT_EQ(rules("eth1"), 1);
    EXPECT_EQ(peerConnect("192.0.2.5"), "refused");

    // Blocked twice, allowed once: allowed.  Allowing eth1 afterwards marks
    // the end, as the daemon takes the signals in the order they were sent.
    for (bool allowed : {false, false, true})
    {
        mockbus::emitPropertiesChanged(mockbus::network, path("eth0"), ethIface,
                                       "SSH", allowed);
    }
    mockbus::emitPropertiesChanged(mockbus::network, path("eth1"), ethIface,
                                   "SSH", true);
    ASSERT_TRUE(kestrel::test::waitUntil(
        [] { return get_ini_long(store, "eth1", -1) == 1; }));
    EXPECT_EQ(rules(), 0);
    EXPECT_EQ(peerConnect("192.0.2.1"), "connected");
    stop(listener);
}

TEST_F(PortwardenTest, BadSignalsAndAVanishingServiceAreSurvived)
{
    start();
    announce({"eth0"});
    ASSERT_TRUE(printed("New interface monitored: eth0\n"));
    sd_bus_emit_signal(mockbus::bus(), path("eth0").c_str(),
                       "org.freedesktop.DBus.Properties", "PropertiesChanged",
                       "s", ethIface);
    mockbus::emitPropertiesChanged(mockbus::network, path("eth0"), ethIface,
                                   "SSH", mockbus::Value("s", "false"));
    sd_bus_emit_signal(mockbus::bus(), mockbus::network.mainPath,
                       "org.freedesktop.DBus.ObjectManager", "InterfacesAdded",
                       "o", path("eth0").c_str());
    ASSERT_TRUE(printed("Failed to read InterfacesAdded: ", "out.err"));
    EXPECT_THAT(err(),
                HasSubstr("Failed to handle SSH change of eth0: sd_bus"));
    EXPECT_THAT(err(), HasSubstr("Failed to handle SSH change of eth0: "
                                 "SSH is not a boolean\n"));
    EXPECT_EQ(get_ini_long(store, "eth0", -1), 1);
    EXPECT_EQ(rules(), 0);

    // The network service goes and comes back with SSH at its default.
    setSsh("eth0", false);
    ASSERT_TRUE(kestrel::test::waitUntil(
        [] { return get_ini_long(store, "eth0", -1) == 0; }));
    mockbus::stopMock(mockbus::network);
    mockbus::startMock(mockbus::network);
    announce({"eth0"});
    ASSERT_TRUE(printed("eth0\nNew interface monitored: eth0\n"));
    EXPECT_EQ(rules("eth0"), 1);
    EXPECT_EQ(ssh("eth0"), "b:false");
}

TEST_F(PortwardenTest, RunsOnIoUringOrFallsBackToEpoll)
{
    auto fds = [this] {
        std::string targets;
        for (const auto& fd :
             fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        {
            targets += fs::read_symlink(fd.path()).string() + " ";
        }
        return targets;
    };
#ifdef PORTWARDEN_EPOLL_EXE
    // Zero entries: EINVAL where io_uring may be used at all.
    if (::syscall(__NR_io_uring_setup, 0, nullptr) == -1 && errno == EINVAL)
    {
        start();
        EXPECT_THAT(fds(), HasSubstr("anon_inode:[io_uring]"));
        EXPECT_TRUE(stop(pid));
    }
    start(true);
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/exe"),
              fs::path(PORTWARDEN_EPOLL_EXE));
    EXPECT_THAT(err(), HasSubstr("io_uring unavailable ("));
#else
    start();
#endif
    EXPECT_THAT(fds(), testing::AllOf(HasSubstr("anon_inode:[eventpoll]"),
                                      testing::Not(HasSubstr("io_uring"))));
    announce({"eth0"});
    EXPECT_TRUE(printed("New interface monitored: eth0\n"));
}

TEST_F(PortwardenTest, IpmiSettingSurvivesARestart)
{
    kestrel::test::IpmidProcess ipmid({.dummySocket = dir / "ipmi.sock",
                                       .preload = {},
                                       .log = dir / "ipmid"});
    ASSERT_TRUE(ipmid.ready()) << "ipmid did not start";
    std::string socket = ipmid.dummySocket().string();
    auto ipmitool = [&socket](std::vector<std::string> bytes) {
        std::vector<std::string> argv = {
            "env",      "IPMI_DUMMY_SOCK=" + socket,
            "timeout",  "10",
            "ipmitool", "-I",
            "dummy",    "raw"};
        argv.insert(argv.end(), bytes.begin(), bytes.end());
        return run(argv).out;
    };

    start();
    announce({"eth0"});
    ASSERT_TRUE(printed("New interface monitored: eth0\n"));
    ipmitool({"0x3a", "0x22", "0x01", "0x00"});
    EXPECT_TRUE(kestrel::test::waitUntil([] { return rules("eth0") == 1; }));

    // A reboot: the filter and the network service start afresh.
    EXPECT_TRUE(stop(pid));
    run({"iptables", "-F", "INPUT"});
    mockbus::reset(mockbus::network);
    start();
    announce({"eth0"});
    ASSERT_TRUE(printed("eth0\nNew interface monitored: eth0\n"));
    EXPECT_EQ(rules(), 1);
    EXPECT_EQ(ssh("eth0"), "b:false");
    EXPECT_EQ(ipmitool({"0x3a", "0x23", "0x01"}), " 00\n");
}

} // namespace
