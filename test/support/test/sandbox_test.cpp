// The journal recorder's field rules and the helpers, where a fault would let
// other tests pass checking nothing (the guard: sandbox_host_test.sh).

#define SD_JOURNAL_SUPPRESS_LOCATION
#include "sandbox.hpp"

#include <sys/uio.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

using namespace kestrel::test;

// The recorder keeps only what journald would.
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
    EXPECT_EQ((*entry)["_PID"], std::to_string(::getpid()));
    EXPECT_FALSE(entry->fields.contains("_KESTREL_FORGED"));
    // The fields the client sent, without the trusted ones the recorder adds.
    std::erase_if(entry->fields,
                  [](const auto& f) { return f.first.starts_with('_'); });
    std::map<std::string, std::string> expected{
        {"MESSAGE", msg},
        {"NOT_UTF8", "\xef\xbf\xbd\xef\xbf\xbdok"},
        {"EMPTY", ""},
        {"TRAILING", "kept\n"},
        {"SYSLOG_IDENTIFIER", program_invocation_short_name},
    };
    EXPECT_EQ(entry->fields, expected);
}

// A program that could not run or was killed, or a failed write, must never
// read as a success.
TEST(Helpers, FailuresNeverReadAsSuccess)
{
    RunResult r = run({"sh", "-c", "cat; echo err >&2; exit 5"}, "in\n");
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out + r.err, "in\nerr\n");
    EXPECT_EQ(run({"no-such-program-anywhere"}).status, 127);
    EXPECT_EQ(run({"sh", "-c", "kill -9 $$"}).status, 128 + 9);
    auto a = tempDir();
    EXPECT_NE(a, tempDir());
    EXPECT_TRUE(std::filesystem::is_empty(a));
    EXPECT_THROW(readFile(a / "missing"), std::system_error);
    EXPECT_THROW(writeFile(a / "no/such/dir", "x"), std::system_error);
}
