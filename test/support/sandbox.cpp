#include "sandbox.hpp"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace kestrel::test
{

namespace
{

constexpr const char* tokenPath = "/run/kestrel-sandbox/token";

[[noreturn]] void throwErrno(const std::string& what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

std::optional<std::string> env(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0')
    {
        return std::nullopt;
    }
    return std::string(value);
}

std::filesystem::path journalFile()
{
    auto run = env("SB_RUN");
    if (!run)
    {
        throw std::runtime_error(
            "SB_RUN is not set: the journal exists only in the sandbox");
    }
    return std::filesystem::path(*run) / "journal.jsonl";
}

// Calls `each(index, line)` for every complete line of the recorder's file;
// a line still being written (no newline yet) is left for the next call.
template <typename Each>
std::size_t forEachJournalLine(Each&& each)
{
    std::ifstream in(journalFile());
    if (!in)
    {
        throwErrno("open " + journalFile().string());
    }
    std::size_t index = 0;
    for (std::string line; std::getline(in, line) && !in.eof();)
    {
        if (!line.empty())
        {
            each(index++, line);
        }
    }
    return index;
}

JournalEntry parseEntry(const std::string& line, std::size_t index)
{
    nlohmann::json doc = nlohmann::json::parse(line, nullptr, false);
    if (!doc.is_object())
    {
        throw std::runtime_error("journal.jsonl entry " +
                                 std::to_string(index) + " is not an object");
    }
    JournalEntry entry;
    for (const auto& [key, value] : doc.items())
    {
        entry.fields.emplace(key, value.is_string() ? value.get<std::string>()
                                                    : value.dump());
    }
    return entry;
}

// A memory file for a child's standard stream.
int memoryFile(const char* name)
{
    int fd = ::memfd_create(name, MFD_CLOEXEC);
    if (fd < 0)
    {
        throwErrno("memfd_create");
    }
    return fd;
}

std::string contents(int fd)
{
    std::string data;
    char buf[65536];
    for (off_t at = 0;;)
    {
        ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR)
        {
            continue;
        }
        if (n <= 0)
        {
            return data;
        }
        data.append(buf, static_cast<std::size_t>(n));
        at += n;
    }
}

} // namespace

bool inSandbox()
{
    auto token = env("KESTREL_SANDBOX_TOKEN");
    if (!token)
    {
        return false;
    }
    std::string stored;
    try
    {
        stored = readTextFile(tokenPath);
    }
    catch (const std::system_error&)
    {
        return false;
    }
    while (!stored.empty() && (stored.back() == '\n' || stored.back() == ' '))
    {
        stored.pop_back();
    }
    return !stored.empty() && stored == *token;
}

void requireSandbox()
{
    if (!inSandbox())
    {
        std::cerr
            << "refusing to run outside the board sandbox (use sim/sandbox)\n";
        std::exit(77);
    }
}

const std::string& JournalEntry::operator[](const std::string& name) const
{
    static const std::string empty;
    auto it = fields.find(name);
    return it == fields.end() ? empty : it->second;
}

bool JournalEntry::has(const std::string& name) const
{
    return fields.contains(name);
}

void PrintTo(const JournalEntry& entry, std::ostream* os)
{
    std::string text = nlohmann::json(entry.fields).dump();
    constexpr std::size_t maxShown = 2000;
    if (text.size() > maxShown)
    {
        text = text.substr(0, maxShown) + "... (" +
               std::to_string(text.size()) + " bytes)";
    }
    *os << text;
}

std::size_t journalMark()
{
    return forEachJournalLine([](std::size_t, const std::string&) {});
}

std::vector<JournalEntry> journalSince(std::size_t mark)
{
    std::vector<JournalEntry> entries;
    forEachJournalLine([&](std::size_t index, const std::string& line) {
        if (index >= mark)
        {
            entries.push_back(parseEntry(line, index));
        }
    });
    return entries;
}

std::optional<JournalEntry> waitForJournal(const std::string& message,
                                           std::size_t since,
                                           std::chrono::milliseconds timeout)
{
    return waitForJournal(
        [&message](const JournalEntry& e) { return e.message() == message; },
        since, timeout);
}

std::optional<JournalEntry>
    waitForJournal(const std::function<bool(const JournalEntry&)>& pred,
                   std::size_t since, std::chrono::milliseconds timeout)
{
    std::optional<JournalEntry> found;
    std::size_t next = since;
    waitUntil(
        [&] {
            // Look at each entry once: only those added since the last poll.
            for (auto& entry : journalSince(next))
            {
                ++next;
                if (pred(entry))
                {
                    found = std::move(entry);
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

RunResult run(const std::vector<std::string>& argv, std::string_view input)
{
    if (argv.empty())
    {
        throw std::invalid_argument("run: empty argv");
    }
    std::vector<char*> args;
    for (const auto& a : argv)
    {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    // The streams are memory files rather than pipes: nothing to pump while
    // the child runs, and a daemon it leaves behind cannot hold them open.
    int in = memoryFile("stdin");
    int out = memoryFile("stdout");
    int err = memoryFile("stderr");
    if (::write(in, input.data(), input.size()) !=
        static_cast<ssize_t>(input.size()))
    {
        throwErrno("write the child's input");
    }
    pid_t pid = ::fork();
    if (pid == 0)
    {
        // Only async-signal-safe calls between fork and exec.
        if (::lseek(in, 0, SEEK_SET) < 0 || ::dup2(in, STDIN_FILENO) < 0 ||
            ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0)
        {
            ::_exit(127);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    RunResult result;
    if (pid > 0)
    {
        result.status = WIFEXITED(status)     ? WEXITSTATUS(status)
                        : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                              : -1;
        result.out = contents(out);
        result.err = contents(err);
    }
    for (int fd : {in, out, err})
    {
        ::close(fd);
    }
    if (pid < 0)
    {
        throwErrno("fork");
    }
    return result;
}

std::string runCapture(const std::vector<std::string>& argv, int* status,
                       std::string* err)
{
    RunResult r = run(argv);
    if (status != nullptr)
    {
        *status = r.status;
    }
    if (err != nullptr)
    {
        *err = std::move(r.err);
    }
    return std::move(r.out);
}

std::filesystem::path tempDir()
{
    // Directories made outside the sandbox go when the process exits;
    // nothing else would remove them from the host's /tmp.
    struct HostDirs
    {
        std::mutex mutex;
        std::vector<std::filesystem::path> dirs;
        ~HostDirs()
        {
            for (const auto& dir : dirs)
            {
                std::error_code ec;
                std::filesystem::remove_all(dir, ec);
            }
        }
    };
    static HostDirs hostDirs;
    auto run = env("SB_RUN");
    std::filesystem::path base =
        run ? std::filesystem::path(*run) / "tmp"
            : std::filesystem::path(env("TMPDIR").value_or("/tmp"));
    std::filesystem::create_directories(base);
    std::string templ = (base / "kestrel-test.XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr)
    {
        throwErrno("mkdtemp " + templ);
    }
    if (!run)
    {
        std::lock_guard lock(hostDirs.mutex);
        hostDirs.dirs.emplace_back(templ);
    }
    return templ;
}

std::vector<uint8_t> readFile(const std::filesystem::path& path)
{
    std::string data = readTextFile(path);
    return {data.begin(), data.end()};
}

std::string readTextFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        throwErrno("open " + path.string());
    }
    std::string data{std::istreambuf_iterator<char>(in), {}};
    if (in.bad())
    {
        throwErrno("read " + path.string());
    }
    return data;
}

void writeFile(const std::filesystem::path& path,
               std::span<const uint8_t> bytes)
{
    writeFile(path,
              std::string_view(reinterpret_cast<const char*>(bytes.data()),
                               bytes.size()));
}

void writeFile(const std::filesystem::path& path, std::string_view text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
    {
        throwErrno("open " + path.string());
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out)
    {
        throwErrno("write " + path.string());
    }
}

bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done())
    {
        if (std::chrono::steady_clock::now() >= deadline)
        {
            return done();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace kestrel::test
