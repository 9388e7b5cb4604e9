#pragma once

// Support for tests inside the board sandbox (sim/sandbox): the guard, the
// journal the sandbox records, and process and file helpers.

#include <chrono>
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

/** True only when KESTREL_SANDBOX_TOKEN equals the token the sandbox wrote
 *  to /run/kestrel-sandbox/token. */
bool inSandbox();

/** Exits with 77 (skipped) unless inSandbox(). */
void requireSandbox();

/** One journal entry as the sandbox's recorder stored it. */
struct JournalEntry
{
    std::map<std::string, std::string> fields;

    /** The field's value, or "" when the entry lacks it. */
    const std::string& operator[](const std::string& name) const;
    const std::string& message() const
    {
        return (*this)["MESSAGE"];
    }
};

void PrintTo(const JournalEntry& entry, std::ostream* os);

/** The number of entries recorded so far, to look only at later ones. */
std::size_t journalMark();

/** Waits for the first entry at index >= since that matches pred, or whose
 *  MESSAGE is message; throws outside the sandbox. */
std::optional<JournalEntry>
    waitForJournal(const std::function<bool(const JournalEntry&)>& pred,
                   std::size_t since = 0,
                   std::chrono::milliseconds timeout = 5s);
inline std::optional<JournalEntry>
    waitForJournal(const std::string& message, std::size_t since = 0,
                   std::chrono::milliseconds timeout = 5s)
{
    return waitForJournal(
        [&message](const JournalEntry& e) { return e.message() == message; },
        since, timeout);
}

/** Polls `done` every 10 ms until it holds or `timeout` has passed; returns
 *  its last answer. */
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = 5s);

struct RunResult
{
    /** Exit code; 128 + signal when killed; 127 when it could not run. */
    int status = -1;
    std::string out;
    std::string err;
};

/** Runs argv (looked up in PATH, no shell) with input on stdin. */
RunResult run(const std::vector<std::string>& argv,
              std::string_view input = {});
inline std::string runCapture(const std::vector<std::string>& argv)
{
    return run(argv).out;
}

/** A new empty directory under $SB_RUN/tmp; throws outside the sandbox. */
std::filesystem::path tempDir();

/** Whole-file helpers; they throw std::system_error on failure. */
std::string readTextFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, std::string_view text);
inline std::vector<uint8_t> readFile(const std::filesystem::path& path)
{
    std::string data = readTextFile(path);
    return {data.begin(), data.end()};
}
inline void writeFile(const std::filesystem::path& path,
                      std::span<const uint8_t> bytes)
{
    writeFile(path,
              {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

} // namespace kestrel::test
