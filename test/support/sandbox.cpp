#include "sandbox.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <iostream>
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

class Fd
{
  public:
    Fd() = default;
    explicit Fd(int fd) : fd(fd)
    {
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd(other.release())
    {
    }
    Fd& operator=(Fd&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~Fd()
    {
        reset();
    }

    int get() const
    {
        return fd;
    }
    explicit operator bool() const
    {
        return fd >= 0;
    }
    int release()
    {
        int old = fd;
        fd = -1;
        return old;
    }
    void reset(int newFd = -1)
    {
        if (fd >= 0)
        {
            ::close(fd);
        }
        fd = newFd;
    }

  private:
    int fd = -1;
};

std::optional<std::string> env(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0')
    {
        return std::nullopt;
    }
    return std::string(value);
}

std::string readAll(int fd, const std::string& what)
{
    std::string data;
    std::array<char, 65536> buf{};
    for (;;)
    {
        ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            throwErrno("read " + what);
        }
        if (n == 0)
        {
            return data;
        }
        data.append(buf.data(), static_cast<std::size_t>(n));
    }
}

Fd openOrThrow(const std::filesystem::path& path, int flags, mode_t mode = 0644)
{
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd < 0)
    {
        throwErrno("open " + path.string());
    }
    return Fd(fd);
}

void writeAll(const std::filesystem::path& path, const void* data,
              std::size_t size)
{
    Fd fd = openOrThrow(path, O_WRONLY | O_CREAT | O_TRUNC);
    const auto* p = static_cast<const char*>(data);
    while (size > 0)
    {
        ssize_t n = ::write(fd.get(), p, size);
        if (n < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            throwErrno("write " + path.string());
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    if (::close(fd.release()) != 0)
    {
        throwErrno("close " + path.string());
    }
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

// The recorder only ever appends, so the parsed entries are kept and only
// the complete lines added since the last call are parsed.  A line still
// being written (no newline yet) is left for the next call.
class JournalReader
{
  public:
    std::vector<JournalEntry> entriesFrom(std::size_t first)
    {
        std::lock_guard lock(mutex);
        refresh();
        if (first >= entries.size())
        {
            return {};
        }
        return {entries.begin() + static_cast<std::ptrdiff_t>(first),
                entries.end()};
    }

    std::size_t count()
    {
        std::lock_guard lock(mutex);
        refresh();
        return entries.size();
    }

  private:
    void refresh()
    {
        auto run = env("SB_RUN");
        if (!run)
        {
            throw std::runtime_error(
                "SB_RUN is not set: the journal exists only in the sandbox");
        }
        std::filesystem::path file =
            std::filesystem::path(*run) / "journal.jsonl";
        Fd fd = openOrThrow(file, O_RDONLY);
        struct stat st
        {
        };
        if (::fstat(fd.get(), &st) != 0)
        {
            throwErrno("stat " + file.string());
        }
        if (file != path || st.st_ino != inode || st.st_dev != device ||
            st.st_size < offset)
        {
            path = file;
            inode = st.st_ino;
            device = st.st_dev;
            offset = 0;
            entries.clear();
        }
        if (st.st_size == offset)
        {
            return;
        }
        if (::lseek(fd.get(), offset, SEEK_SET) < 0)
        {
            throwErrno("seek " + file.string());
        }
        std::string data = readAll(fd.get(), file.string());
        std::size_t start = 0;
        for (std::size_t nl = data.find('\n'); nl != std::string::npos;
             nl = data.find('\n', start))
        {
            if (nl > start)
            {
                entries.push_back(
                    parseEntry(data.substr(start, nl - start), entries.size()));
            }
            start = nl + 1;
        }
        offset += static_cast<off_t>(start);
    }

    std::mutex mutex;
    std::filesystem::path path;
    ino_t inode = 0;
    dev_t device = 0;
    off_t offset = 0;
    std::vector<JournalEntry> entries;
};

JournalReader& journalReader()
{
    static JournalReader reader;
    return reader;
}

// Directories tempDir() made outside the sandbox; nothing else would remove
// them from the host's /tmp.
class HostTempDirs
{
  public:
    HostTempDirs() = default;
    HostTempDirs(const HostTempDirs&) = delete;
    HostTempDirs& operator=(const HostTempDirs&) = delete;
    ~HostTempDirs()
    {
        for (const auto& dir : dirs)
        {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    }
    void add(std::filesystem::path dir)
    {
        std::lock_guard lock(mutex);
        dirs.push_back(std::move(dir));
    }

  private:
    std::mutex mutex;
    std::vector<std::filesystem::path> dirs;
};

int decodeStatus(int status)
{
    if (WIFEXITED(status))
    {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status))
    {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

} // namespace

bool inSandbox()
{
    auto token = env("KESTREL_SANDBOX_TOKEN");
    if (!token)
    {
        return false;
    }
    int fd = ::open(tokenPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        return false;
    }
    Fd guard(fd);
    std::string stored;
    try
    {
        stored = readAll(fd, tokenPath);
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
    nlohmann::json doc(entry.fields);
    std::string text = doc.dump();
    constexpr std::size_t maxShown = 2000;
    if (text.size() > maxShown)
    {
        text = text.substr(0, maxShown) + "... (" +
               std::to_string(text.size()) + " bytes)";
    }
    *os << text;
}

std::vector<JournalEntry> journalEntries()
{
    return journalReader().entriesFrom(0);
}

std::size_t journalMark()
{
    return journalReader().count();
}

std::vector<JournalEntry> journalSince(std::size_t mark)
{
    return journalReader().entriesFrom(mark);
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
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t next = since;
    for (;;)
    {
        // Look at each entry once: only those added since the last poll.
        for (auto& entry : journalSince(next))
        {
            ++next;
            if (pred(entry))
            {
                return std::move(entry);
            }
        }
        if (std::chrono::steady_clock::now() >= deadline)
        {
            return std::nullopt;
        }
        std::this_thread::sleep_for(5ms);
    }
}

RunResult run(const std::vector<std::string>& argv, std::string_view input)
{
    if (argv.empty())
    {
        throw std::invalid_argument("run: empty argv");
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv)
    {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    std::array<int, 2> outPipe{};
    std::array<int, 2> errPipe{};
    if (::pipe2(outPipe.data(), O_CLOEXEC) != 0)
    {
        throwErrno("pipe");
    }
    Fd outRead(outPipe[0]);
    Fd outWrite(outPipe[1]);
    if (::pipe2(errPipe.data(), O_CLOEXEC) != 0)
    {
        throwErrno("pipe");
    }
    Fd errRead(errPipe[0]);
    Fd errWrite(errPipe[1]);
    // Input goes through a socket so that send(MSG_NOSIGNAL) reports a child
    // that stopped reading as EPIPE instead of killing the test by SIGPIPE.
    Fd inParent;
    Fd inChild;
    if (input.empty())
    {
        inChild = openOrThrow("/dev/null", O_RDONLY);
    }
    else
    {
        std::array<int, 2> sv{};
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv.data()) !=
            0)
        {
            throwErrno("socketpair");
        }
        inParent.reset(sv[0]);
        inChild.reset(sv[1]);
    }

    pid_t pid = ::fork();
    if (pid < 0)
    {
        throwErrno("fork");
    }
    if (pid == 0)
    {
        // Only async-signal-safe calls between fork and exec.
        ::signal(SIGPIPE, SIG_DFL);
        if (::dup2(inChild.get(), STDIN_FILENO) < 0 ||
            ::dup2(outWrite.get(), STDOUT_FILENO) < 0 ||
            ::dup2(errWrite.get(), STDERR_FILENO) < 0)
        {
            ::_exit(127);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    inChild.reset();
    outWrite.reset();
    errWrite.reset();

    RunResult result;
    std::size_t written = 0;
    std::array<char, 65536> buf{};
    while (outRead || errRead)
    {
        std::array<pollfd, 3> fds{};
        nfds_t n = 0;
        if (outRead)
        {
            fds[n++] = {outRead.get(), POLLIN, 0};
        }
        if (errRead)
        {
            fds[n++] = {errRead.get(), POLLIN, 0};
        }
        if (inParent)
        {
            fds[n++] = {inParent.get(), POLLOUT, 0};
        }
        if (::poll(fds.data(), n, -1) < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            throwErrno("poll");
        }
        for (nfds_t i = 0; i < n; ++i)
        {
            if (fds[i].revents == 0)
            {
                continue;
            }
            if (inParent && fds[i].fd == inParent.get())
            {
                ssize_t w =
                    ::send(inParent.get(), input.data() + written,
                           input.size() - written, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (w < 0 && errno != EAGAIN && errno != EINTR)
                {
                    inParent.reset(); // the child closed its stdin
                }
                else if (w > 0)
                {
                    written += static_cast<std::size_t>(w);
                    if (written == input.size())
                    {
                        inParent.reset();
                    }
                }
                continue;
            }
            Fd& src = fds[i].fd == outRead.get() ? outRead : errRead;
            std::string& dst = &src == &outRead ? result.out : result.err;
            ssize_t r = ::read(src.get(), buf.data(), buf.size());
            if (r > 0)
            {
                dst.append(buf.data(), static_cast<std::size_t>(r));
            }
            else if (r == 0 || (errno != EINTR && errno != EAGAIN))
            {
                src.reset();
            }
        }
    }
    inParent.reset();

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
    {
        if (errno != EINTR)
        {
            throwErrno("waitpid");
        }
    }
    result.status = decodeStatus(status);
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
    static HostTempDirs hostDirs;
    auto run = env("SB_RUN");
    std::filesystem::path base;
    if (run)
    {
        base = std::filesystem::path(*run) / "tmp";
    }
    else
    {
        base = env("TMPDIR").value_or("/tmp");
    }
    std::filesystem::create_directories(base);
    std::string templ = (base / "kestrel-test.XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr)
    {
        throwErrno("mkdtemp " + templ);
    }
    if (!run)
    {
        hostDirs.add(templ);
    }
    return templ;
}

std::vector<uint8_t> readFile(const std::filesystem::path& path)
{
    Fd fd = openOrThrow(path, O_RDONLY);
    std::string data = readAll(fd.get(), path.string());
    return {data.begin(), data.end()};
}

std::string readTextFile(const std::filesystem::path& path)
{
    Fd fd = openOrThrow(path, O_RDONLY);
    return readAll(fd.get(), path.string());
}

void writeFile(const std::filesystem::path& path,
               std::span<const uint8_t> bytes)
{
    writeAll(path, bytes.data(), bytes.size());
}

void writeFile(const std::filesystem::path& path, std::string_view text)
{
    writeAll(path, text.data(), text.size());
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
