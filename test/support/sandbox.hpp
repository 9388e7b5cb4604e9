#pragma once

// Support for tests that run inside the board sandbox (sim/sandbox): the
// guard that keeps them off the host, the journal the sandbox records, and
// small process and file helpers.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::test
{

using namespace std::chrono_literals;

/** True only inside the board sandbox: KESTREL_SANDBOX_TOKEN is set and equals
 *  the token the sandbox wrote to /run/kestrel-sandbox/token. */
bool inSandbox();

/** Exits with 77 (skipped) unless inSandbox(). */
void requireSandbox();

/** One journal entry as the sandbox's recorder stored it. */
struct JournalEntry
{
    std::map<std::string, std::string> fields;

    /** The field's value, or an empty string when the entry lacks it. */
    const std::string& operator[](const std::string& name) const;
    const std::string& message() const
    {
        return (*this)["MESSAGE"];
    }
};

/** Lets gtest show the whole entry when an assertion on one fails. */
void PrintTo(const JournalEntry& entry, std::ostream* os);

/** The number of entries recorded so far, to look only at later ones. */
std::size_t journalMark();

/** Waits for the first entry at index >= since whose MESSAGE equals message
 *  (the recorder runs in its own process); throws outside the sandbox. */
std::optional<JournalEntry>
    waitForJournal(const std::string& message, std::size_t since = 0,
                   std::chrono::milliseconds timeout = 5s);

/** As above, for the first entry matching pred. */
std::optional<JournalEntry>
    waitForJournal(const std::function<bool(const JournalEntry&)>& pred,
                   std::size_t since = 0,
                   std::chrono::milliseconds timeout = 5s);

/** Polls `done` every 10 ms until it holds or `timeout` has passed; returns
 *  its last answer. */
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = 5s);

struct RunResult
{
    /** Exit code; 128 + signal number when killed by a signal; 127 when
     *  the program could not be executed. */
    int status = -1;
    std::string out;
    std::string err;
};

/** Runs argv[0] (looked up in PATH) with no shell, feeding input on stdin
 *  and capturing stdout and stderr. */
RunResult run(const std::vector<std::string>& argv,
              std::string_view input = {});

/** Runs a program and returns its stdout. */
std::string runCapture(const std::vector<std::string>& argv);

/** A new empty directory under $SB_RUN/tmp (kept with the run directory when
 *  a run fails); throws outside the sandbox. */
std::filesystem::path tempDir();

/** Whole-file helpers; they throw std::system_error on failure. */
std::vector<uint8_t> readFile(const std::filesystem::path& path);
std::string readTextFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path,
               std::span<const uint8_t> bytes);
void writeFile(const std::filesystem::path& path, std::string_view text);

} // namespace kestrel::test
