// Runs inside the board sandbox: the journal recorder, the board's private
// files and the test-support helpers, exercised the way other tests use them.

#define SD_JOURNAL_SUPPRESS_LOCATION
#include "sandbox.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace kestrel::test;

namespace
{

// The fields the client sent, without the trusted ones the recorder adds.
std::map<std::string, std::string> clientFields(const JournalEntry& entry)
{
    std::map<std::string, std::string> out;
    for (const auto& [name, value] : entry.fields)
    {
        if (!name.starts_with('_'))
        {
            out.emplace(name, value);
        }
    }
    return out;
}

std::string uniqueMessage(const std::string& what)
{
    static int counter = 0;
    return what + " " + std::to_string(::getpid()) + "." +
           std::to_string(++counter);
}

iovec iov(const std::string& s)
{
    return {const_cast<char*>(s.data()), s.size()};
}

// A field in the native protocol's binary form: NAME\n, u64le size, value, \n.
std::string binaryField(const std::string& name, const std::string& value)
{
    std::string out = name + "\n";
    uint64_t size = value.size();
    for (int i = 0; i < 8; ++i)
    {
        out.push_back(static_cast<char>((size >> (8 * i)) & 0xff));
    }
    return out + value + "\n";
}

// Sends payload the way sd-journal sends an entry too large for a datagram:
// an empty datagram carrying a sealed memfd.
void sendViaMemfd(const std::string& payload)
{
    int memfd =
        ::memfd_create("journal-entry", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    ASSERT_GE(memfd, 0) << std::strerror(errno);
    ASSERT_EQ(::write(memfd, payload.data(), payload.size()),
              static_cast<ssize_t>(payload.size()));
    ASSERT_EQ(::fcntl(memfd, F_ADD_SEALS,
                      F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL),
              0);

    int sock = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, "/run/systemd/journal/socket");

    std::array<char, CMSG_SPACE(sizeof(int))> control{};
    msghdr msg{};
    msg.msg_name = &addr;
    msg.msg_namelen = sizeof(addr);
    msg.msg_control = control.data();
    msg.msg_controllen = control.size();
    cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
    cmsg->cmsg_level = SOL_SOCKET;
    cmsg->cmsg_type = SCM_RIGHTS;
    cmsg->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(cmsg), &memfd, sizeof(int));

    EXPECT_EQ(::sendmsg(sock, &msg, MSG_NOSIGNAL), 0) << std::strerror(errno);
    ::close(sock);
    ::close(memfd);
}

} // namespace

TEST(SandboxGuard, TokenMatchesTheSandboxFile)
{
    EXPECT_TRUE(inSandbox());
    const char* token = std::getenv("KESTREL_SANDBOX_TOKEN");
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(readTextFile("/run/kestrel-sandbox/token"),
              std::string(token) + "\n");
    EXPECT_STREQ(std::getenv("SB_RUN"), "/run/sandbox");

    // A token that does not match the file is not the sandbox.
    std::string saved = token;
    ::setenv("KESTREL_SANDBOX_TOKEN", "0123456789abcdef", 1);
    EXPECT_FALSE(inSandbox());
    ::unsetenv("KESTREL_SANDBOX_TOKEN");
    EXPECT_FALSE(inSandbox());
    ::setenv("KESTREL_SANDBOX_TOKEN", saved.c_str(), 1);
    EXPECT_TRUE(inSandbox());
}

TEST(Journal, FieldsArriveExactly)
{
    const std::string msg = uniqueMessage("fields");
    ASSERT_EQ(sd_journal_send("MESSAGE=%s", msg.c_str(), "PRIORITY=%d", 4,
                              "KESTREL_PROBE=alpha beta=gamma",
                              "MULTILINE=first\nsecond", nullptr),
              0);

    auto entry = waitForJournal(msg);
    ASSERT_TRUE(entry);
    std::map<std::string, std::string> expected{
        {"MESSAGE", msg},
        {"PRIORITY", "4"},
        {"KESTREL_PROBE", "alpha beta=gamma"},
        {"MULTILINE", "first\nsecond"},
        // sd-journal names the program unless the caller does.
        {"SYSLOG_IDENTIFIER", program_invocation_short_name},
    };
    EXPECT_EQ(clientFields(*entry), expected);
    EXPECT_EQ((*entry)["_PID"], std::to_string(::getpid()));
    EXPECT_EQ((*entry)["_UID"], std::to_string(::getuid()));
    std::string comm = readTextFile("/proc/self/comm");
    comm.pop_back(); // newline
    EXPECT_EQ((*entry)["_COMM"], comm);
}

TEST(Journal, LargeEntriesArriveWhole)
{
    // Larger than an unprivileged sender's datagram limit, where sd-journal
    // falls back to a memfd; as root it raises its send buffer instead and
    // sends one big datagram.
    std::string big(300 * 1024, 'x');
    for (std::size_t i = 0; i < big.size(); i += 997)
    {
        big[i] = static_cast<char>('a' + (i % 26));
    }
    big[1000] = '\n';
    const std::string msg = uniqueMessage("large");
    const std::string msgField = "MESSAGE=" + msg;
    const std::string bigField = "BIG=" + big;
    std::array<iovec, 2> fields{iov(msgField), iov(bigField)};
    ASSERT_EQ(sd_journal_sendv(fields.data(), fields.size()), 0);

    auto entry = waitForJournal(msg);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->fields.at("BIG").size(), big.size());
    EXPECT_TRUE((*entry)["BIG"] == big);

    // The memfd form by hand, so it is covered whatever size limit decides
    // the path sd-journal takes.
    const std::string viaFd = uniqueMessage("memfd");
    const std::string tail(200 * 1024, 'y');
    sendViaMemfd("MESSAGE=" + viaFd + "\n" + binaryField("TAIL", tail) +
                 "PRIORITY=3\n");
    entry = waitForJournal(viaFd);
    ASSERT_TRUE(entry);
    EXPECT_EQ((*entry)["PRIORITY"], "3");
    EXPECT_TRUE((*entry)["TAIL"] == tail);
}

TEST(Journal, RecorderAppliesJournaldFieldRules)
{
    const std::string msg = uniqueMessage("rules");
    const std::string fields[] = {
        "MESSAGE=" + msg,
        "_PID=1", // trusted fields cannot be set by a client
        "_KESTREL_FORGED=1",
        "lower_case=dropped", // journald accepts only A-Z, 0-9 and '_'
        "9STARTS_WITH_DIGIT=dropped",
        "NOT_UTF8=\xff\xfeok",
        "EMPTY=",
        "TRAILING=kept\n", // sent in the binary form, newline and all
    };
    std::array<iovec, std::size(fields)> iovs{};
    std::transform(std::begin(fields), std::end(fields), iovs.begin(), iov);
    ASSERT_EQ(sd_journal_sendv(iovs.data(), iovs.size()), 0);

    auto entry = waitForJournal(msg);
    ASSERT_TRUE(entry);
    std::map<std::string, std::string> expected{
        {"MESSAGE", msg},
        {"NOT_UTF8", "\xef\xbf\xbd\xef\xbf\xbdok"},
        {"EMPTY", ""},
        {"TRAILING", "kept\n"},
        {"SYSLOG_IDENTIFIER", program_invocation_short_name},
    };
    EXPECT_EQ(clientFields(*entry), expected);
    EXPECT_EQ((*entry)["_PID"], std::to_string(::getpid()));
    EXPECT_FALSE(entry->has("_KESTREL_FORGED"));
}

TEST(Journal, MarkLimitsTheSearchToNewEntries)
{
    const std::string before = uniqueMessage("before");
    ASSERT_EQ(sd_journal_print(LOG_INFO, "%s", before.c_str()), 0);
    ASSERT_TRUE(waitForJournal(before));

    const std::size_t mark = journalMark();
    EXPECT_FALSE(waitForJournal(before, mark, 50ms));

    const std::string first = uniqueMessage("after");
    const std::string second = uniqueMessage("after");
    ASSERT_EQ(sd_journal_print(LOG_WARNING, "%s", first.c_str()), 0);
    ASSERT_EQ(sd_journal_print(LOG_ERR, "%s", second.c_str()), 0);
    auto last = waitForJournal(
        [&](const JournalEntry& e)
        { return e.message() == second && e["PRIORITY"] == "3"; },
        mark);
    ASSERT_TRUE(last);

    std::vector<std::string> seen;
    for (const auto& e : journalSince(mark))
    {
        seen.push_back(e.message());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{first, second}));
    EXPECT_EQ(journalMark(), mark + 2);
}

TEST(BoardFiles, EepromIsAnErasedImage)
{
    auto image = readFile("/sys/bus/i2c/devices/7-0050/eeprom");
    ASSERT_EQ(image.size(), 16384U);
    EXPECT_TRUE(std::all_of(image.begin(), image.end(),
                            [](uint8_t b) { return b == 0xff; }));
}

TEST(BoardFiles, SystemPathsAreWritable)
{
    std::filesystem::create_directories("/usr/share/platform-control");
    writeFile("/usr/share/platform-control/config.json", "{\"chassis\": 1}\n");
    EXPECT_EQ(readTextFile("/usr/share/platform-control/config.json"),
              "{\"chassis\": 1}\n");
    // Files already in /usr/share remain readable through the overlay.
    EXPECT_TRUE(std::filesystem::exists("/usr/share/common-licenses"));

    // /var/lib is the state directory's var-lib.
    writeFile("/var/lib/kestrel-probe", "state");
    EXPECT_EQ(readTextFile(std::filesystem::path(std::getenv("SB_STATE")) /
                           "var-lib/kestrel-probe"),
              "state");
}

TEST(Helpers, RunCapturesOutputAndStatus)
{
    RunResult r = run({"sh", "-c", "echo out; echo err >&2; exit 5"});
    EXPECT_EQ(r.out, "out\n");
    EXPECT_EQ(r.err, "err\n");
    EXPECT_EQ(r.status, 5);

    // Both streams beyond a pipe's buffer: reading one at a time would hang.
    r = run(
        {"sh", "-c", "head -c 300000 /dev/zero >&2; head -c 300001 /dev/zero"});
    EXPECT_EQ(r.err.size(), 300000U);
    EXPECT_EQ(r.out.size(), 300001U);

    std::string input(200 * 1024, 'i');
    input += "end";
    r = run({"cat"}, input);
    EXPECT_TRUE(r.out == input);
    EXPECT_EQ(r.status, 0);

    // A child that ignores its input must not kill the test with SIGPIPE.
    r = run({"true"}, input);
    EXPECT_EQ(r.status, 0);

    EXPECT_EQ(run({"/nonexistent/program"}).status, 127);
    EXPECT_EQ(run({"sh", "-c", "kill -9 $$"}).status, 128 + 9);

    int status = -1;
    std::string err;
    EXPECT_EQ(runCapture({"sh", "-c", "printf x; printf y >&2; exit 2"},
                         &status, &err),
              "x");
    EXPECT_EQ(status, 2);
    EXPECT_EQ(err, "y");
}

TEST(Helpers, FilesAndTempDirs)
{
    auto a = tempDir();
    auto b = tempDir();
    EXPECT_NE(a, b);
    EXPECT_TRUE(std::filesystem::is_empty(a));
    EXPECT_EQ(a.parent_path(), std::filesystem::path("/run/sandbox/tmp"));

    const std::vector<uint8_t> bytes{0x00, 0x01, 0xff, 0x0a, 0x00};
    writeFile(a / "bin", bytes);
    EXPECT_EQ(readFile(a / "bin"), bytes);
    writeFile(a / "bin", "short");
    EXPECT_EQ(readTextFile(a / "bin"), "short");

    EXPECT_THROW(readFile(b / "missing"), std::system_error);
    EXPECT_THROW(writeFile(b / "no/such/dir", "x"), std::system_error);
}
