// Inside the board sandbox: the guard, the journal recorder's field rules and
// the helpers, where a fault would let other tests pass checking nothing.

#define SD_JOURNAL_SUPPRESS_LOCATION
#include "sandbox.hpp"

#include <sys/uio.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

using namespace kestrel::test;

TEST(SandboxGuard, OnlyTheSandboxTokenPasses)
{
    EXPECT_TRUE(inSandbox());
    const char* token = std::getenv("KESTREL_SANDBOX_TOKEN");
    ASSERT_NE(token, nullptr);
    std::string saved = token;
    ::setenv("KESTREL_SANDBOX_TOKEN", "0123456789abcdef", 1);
    EXPECT_FALSE(inSandbox());
    ::unsetenv("KESTREL_SANDBOX_TOKEN");
    EXPECT_FALSE(inSandbox());
    ::setenv("KESTREL_SANDBOX_TOKEN", saved.c_str(), 1);
    EXPECT_TRUE(inSandbox());
}

// The recorder keeps only what journald would: a field the real journal
// drops must not satisfy a test here.
TEST(Journal, RecorderAppliesJournaldFieldRules)
{
    const std::string msg = "rules " + std::to_string(::getpid());
    std::string fields[] = {
        "MESSAGE=" + msg,
        "_PID=1", // trusted fields cannot be set by a client
        "_KESTREL_FORGED=1",
        "lower_case=dropped", // journald accepts only A-Z, 0-9 and '_'
        "9STARTS_WITH_DIGIT=dropped",
        "NOT_UTF8=\xff\xfeok",
        "EMPTY=",
        "TRAILING=kept\n", // sent in the binary form, newline and all
    };
    iovec iovs[std::size(fields)];
    for (std::size_t i = 0; i < std::size(fields); ++i)
    {
        iovs[i] = {fields[i].data(), fields[i].size()};
    }
    ASSERT_EQ(sd_journal_sendv(iovs, std::size(iovs)), 0);

    auto entry = waitForJournal(msg);
    ASSERT_TRUE(entry);
    // The fields the client sent, without the trusted ones the recorder adds.
    std::map<std::string, std::string> sent;
    for (const auto& [name, value] : entry->fields)
    {
        if (!name.starts_with('_'))
        {
            sent.emplace(name, value);
        }
    }
    std::map<std::string, std::string> expected{
        {"MESSAGE", msg},
        {"NOT_UTF8", "\xef\xbf\xbd\xef\xbf\xbdok"},
        {"EMPTY", ""},
        {"TRAILING", "kept\n"},
        {"SYSLOG_IDENTIFIER", program_invocation_short_name},
    };
    EXPECT_EQ(sent, expected);
    EXPECT_EQ((*entry)["_PID"], std::to_string(::getpid()));
    EXPECT_FALSE(entry->has("_KESTREL_FORGED"));
}

// Tests compare these statuses with 0: a program that could not run or was
// killed must never read as a success.
TEST(Helpers, RunReportsEveryWayAProgramEnds)
{
    EXPECT_EQ(run({"sh", "-c", "echo out; echo err >&2; exit 5"}).status, 5);
    EXPECT_EQ(run({"/nonexistent/program"}).status, 127);
    EXPECT_EQ(run({"no-such-program-anywhere"}).status, 127);
    EXPECT_EQ(run({"sh", "-c", "kill -9 $$"}).status, 128 + 9);
    int status = -1;
    runCapture({"sh", "-c", "printf x; printf y >&2; exit 2"}, &status);
    EXPECT_EQ(status, 2);
}

// Set-ups write board files with these: a write that fails silently would
// leave a test checking the previous test's state.
TEST(Helpers, FileHelpersThrowRatherThanFailSilently)
{
    auto a = tempDir();
    auto b = tempDir();
    EXPECT_NE(a, b);
    EXPECT_TRUE(std::filesystem::is_empty(a));
    EXPECT_THROW(readFile(b / "missing"), std::system_error);
    EXPECT_THROW(writeFile(b / "no/such/dir", "x"), std::system_error);
}
