#include "sandbox.hpp"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace kestrel::test
{

namespace
{

[[noreturn]] void throwErrno(const std::string& what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

std::filesystem::path runDir(const char* what)
{
    const char* run = std::getenv("SB_RUN");
    if (run == nullptr || *run == '\0')
    {
        throw std::runtime_error(std::string("SB_RUN is not set: ") + what +
                                 " exists only in the sandbox");
    }
    return run;
}

// The recorder's complete lines; one still being written waits for the next.
std::vector<std::string> journalLines()
{
    std::string text = readTextFile(runDir("the journal") / "journal.jsonl");
    std::vector<std::string> lines;
    for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != text.npos;
         at = nl + 1)
    {
        if (nl > at)
        {
            lines.push_back(text.substr(at, nl - at));
        }
    }
    return lines;
}

} // namespace

bool inSandbox()
{
    const char* token = std::getenv("KESTREL_SANDBOX_TOKEN");
    std::ifstream in("/run/kestrel-sandbox/token");
    std::string stored;
    return token != nullptr && *token != '\0' && std::getline(in, stored) &&
           stored == token;
}

void requireSandbox()
{
    if (!inSandbox())
    {
        std::cerr << "refusing to run outside the board sandbox "
                     "(use sim/sandbox)\n";
        std::exit(77);
    }
}

const std::string& JournalEntry::operator[](const std::string& name) const
{
    static const std::string empty;
    auto it = fields.find(name);
    return it == fields.end() ? empty : it->second;
}

void PrintTo(const JournalEntry& entry, std::ostream* os)
{
    *os << nlohmann::json(entry.fields).dump().substr(0, 2000);
}

std::size_t journalMark()
{
    return journalLines().size();
}

std::optional<JournalEntry>
    waitForJournal(const std::function<bool(const JournalEntry&)>& pred,
                   std::size_t since, std::chrono::milliseconds timeout)
{
    std::optional<JournalEntry> found;
    std::size_t next = since;
    waitUntil(
        [&] {
            std::vector<std::string> lines = journalLines();
            for (; next < lines.size() && !found; ++next)
            {
                nlohmann::json doc = nlohmann::json::parse(lines[next]);
                JournalEntry entry;
                for (const auto& [key, value] : doc.items())
                {
                    entry.fields.emplace(key, value.is_string()
                                                  ? value.get<std::string>()
                                                  : value.dump());
                }
                if (pred(entry))
                {
                    found = std::move(entry);
                }
            }
            return found.has_value();
        },
        timeout);
    return found;
}

RunResult run(const std::vector<std::string>& argv, std::string_view input)
{
    std::vector<char*> args;
    for (const auto& a : argv)
    {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    // Memory files rather than pipes: nothing to pump while the child runs,
    // and a daemon it leaves behind cannot hold them open.
    int in = ::memfd_create("stdin", MFD_CLOEXEC);
    int out = ::memfd_create("stdout", MFD_CLOEXEC);
    int err = ::memfd_create("stderr", MFD_CLOEXEC);
    if (in < 0 || out < 0 || err < 0 ||
        ::write(in, input.data(), input.size()) !=
            static_cast<ssize_t>(input.size()))
    {
        throwErrno("set up the child's streams");
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
        result.out = readTextFile("/proc/self/fd/" + std::to_string(out));
        result.err = readTextFile("/proc/self/fd/" + std::to_string(err));
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

std::filesystem::path tempDir()
{
    std::filesystem::path base = runDir("tempDir()") / "tmp";
    std::filesystem::create_directories(base);
    std::string templ = (base / "kestrel-test.XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr)
    {
        throwErrno("mkdtemp " + templ);
    }
    return templ;
}

std::string readTextFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string data{std::istreambuf_iterator<char>(in), {}};
    if (!in.is_open() || in.bad())
    {
        throwErrno("read " + path.string());
    }
    return data;
}

void writeFile(const std::filesystem::path& path, std::string_view text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
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
