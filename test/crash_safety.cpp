// Crash safety of every persisted file: a writer child loops over known
// generations of one file through the library call the board uses, and is
// killed with SIGKILL at a random point; the file must then be exactly the
// last generation the child reported written or the one after it, never a
// mixture.  Then two writers share the key/value store, as ipmid and
// portwarden do, one of them killed part way: no acknowledged key is lost.
//
//   crash_safety [KILLS_PER_FILE [RANDOM_START]]   (also CRASH_KILLS,
//   CRASH_RANDOM)
//
// The fixed paths are the board's, so this runs only inside the sandbox.
#include "provider.hpp"
#include "sandbox.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "keyshelf.h"
#include "revstore.h"
#include "romcell.h"
#include "sidebandcfg.h"

namespace fs = std::filesystem;
using kestrel::test::readTextFile;

namespace
{

constexpr int generations = 24;

void spill(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Removes the writers' temporaries (".NAME.XXXXXX") beside `path`, which a
// kill between their creation and the rename leaves behind; counts them.
int removeTemporaries(const std::string& path)
{
    int n = 0;
    std::string prefix = "." + fs::path(path).filename().string() + ".";
    for (const auto& e : fs::directory_iterator(fs::path(path).parent_path()))
    {
        n += e.path().filename().string().starts_with(prefix) &&
             fs::remove(e.path());
    }
    return n;
}

/** A persisted file, its content before the first write, and the write of
 *  generation g (1..generations): 0 or a negative value. */
struct Target
{
    const char* name;
    std::string path, initial;
    std::function<int(int)> write;
};

std::vector<Target> targets()
{
    // The records the EEPROM's users write: fan duties, chassis ID, MACs.
    static const std::pair<uint32_t, uint32_t> areas[] = {
        {0x3F40, 8}, {0x3F60, 5}, {0x3F80, 6}, {0x3F88, 6}};
    std::string sensors = "[";
    for (int i = 0; i < 20; ++i)
    {
        sensors += std::string(i ? "," : "") + R"({"Desc": {"Name": "cpu)" +
                   std::to_string(i) +
                   R"("}, "Params": {"ConstParam": [{"ParamName": "TJMAX", )"
                   R"("Value": 100}]}})";
    }
    auto tjmax =
        kestrel::test::providerSymbol<int (*)(int)>("updateVirtualSensorTjmax");
    return {
        {"key/value store", KEYSHELF_PATH,
         "[SshControl]\neth0=0\n\n[GARP]\nEnabled=1\n",
         [](int g) {
             std::string key = "k" + std::to_string(g % 7);
             return set_ini_long(g % 2 ? "GARP" : "SshControl", key.c_str(),
                                 g * 100003L);
         }},
        {"EEPROM record areas", EEPROM_PATH, std::string(16384, '\xff'),
         [](int g) {
             auto [offset, length] = areas[g % 4];
             std::vector<uint8_t> data(length, static_cast<uint8_t>(g));
             return write_eeprom(data.data(), offset, length);
         }},
        {"version records", REVSTORE_PATH, "",
         [](int g) {
             COMMON_VERSION_INFO info{};
             info.major = static_cast<uint8_t>(g);
             info.build = static_cast<uint8_t>(~g);
             return SetRevRecord(static_cast<uint8_t>(g % 29), &info);
         }},
        {"sideband port", SIDEBANDCFG_PATH, "0\n",
         [](int g) { return SetSidebandPort(static_cast<uint8_t>(g * 37)); }},
        {"virtual-sensor configuration",
         "/usr/share/phosphor-virtual-sensor/virtual_sensor_config.json",
         sensors + "]", [tjmax](int g) { return tjmax ? tjmax(60 + g) : -1; }},
    };
}

void openPipe(int fds[2])
{
    if (::pipe(fds) != 0)
    {
        std::perror("pipe");
        std::exit(1);
    }
}

void mark(int fd, char c)
{
    if (::write(fd, &c, 1) != 1)
    {
        ::_exit(2);
    }
}

// Starts a child that, once `gate` (when given) is closed, makes writes 1..n
// and marks each on the pipe whose read end goes to `fd`: '<' before it, '+'
// after it, 'E' when it failed.
pid_t spawnWriter(int& fd, int n, const std::function<int(int)>& write,
                  const int* gate = nullptr)
{
    int fds[2];
    openPipe(fds);
    pid_t pid = ::fork();
    if (pid == 0)
    {
        ::close(fds[0]);
        char go;
        if (gate && (::close(gate[1]), ::read(gate[0], &go, 1) != 0))
        {
            ::_exit(2);
        }
        for (int g = 1; g <= n; ++g)
        {
            mark(fds[1], '<');
            mark(fds[1], write(g) < 0 ? 'E' : '+');
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    fd = fds[0];
    return pid;
}

// Reads the child's marks until `want` writes were acknowledged or the pipe
// closed; counts them in `done` and tells whether a write had begun without
// its acknowledgement.  A failed write is fatal.
bool readAcks(int fd, int want, int& done)
{
    bool begun = false;
    for (char c; done < want && ::read(fd, &c, 1) == 1;)
    {
        if (c == 'E')
        {
            std::fprintf(stderr, "a write failed in the writer child\n");
            std::exit(1);
        }
        begun = c == '<';
        done += c == '+';
    }
    return begun;
}

struct Counts
{
    int interrupted = 0, checked = 0, torn = 0, newer = 0, temporaries = 0;
};

// Kills a writer of `t` `kills` times; prints the counts and adds them up.
void crashTarget(const Target& t, int kills, std::mt19937& rng, Counts& total)
{
    Counts c;
    // The generations' contents, written here first from the same start.
    std::vector<std::string> expected{t.initial};
    spill(t.path, t.initial);
    auto start = std::chrono::steady_clock::now();
    for (int g = 1; g <= generations; ++g)
    {
        if (t.write(g) < 0)
        {
            std::fprintf(stderr, "%s: generation %d not written\n", t.name, g);
            std::exit(1);
        }
        expected.push_back(readTextFile(t.path));
    }
    // The kill lands up to about two writes after the chosen one.
    auto perWrite = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - start) /
                    generations;
    std::uniform_int_distribution<int> after(0, 3);
    std::uniform_int_distribution<long> delay(0, 2 * perWrite.count() + 1);
    removeTemporaries(t.path);
    for (int k = 0; k < kills; ++k, ++c.checked)
    {
        spill(t.path, t.initial);
        int fd = -1, acked = 0;
        pid_t pid = spawnWriter(fd, generations, t.write);
        readAcks(fd, after(rng), acked);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(rng)));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        // Killed inside a write: begun, never acknowledged.
        bool inWrite = readAcks(fd, generations, acked);
        ::close(fd);
        c.interrupted += inWrite;
        std::string now = readTextFile(t.path);
        bool newer = inWrite && now == expected[acked + 1];
        c.newer += newer;
        if (now != expected[acked] && !newer)
        {
            ++c.torn;
            std::fprintf(stderr, "%s: torn after %d writes (%zu bytes)\n",
                         t.name, acked, now.size());
        }
        c.temporaries += removeTemporaries(t.path);
    }
    std::printf("%-30s interrupted %5d  checked %5d  torn %d  (new "
                "content %d, temporaries left %d)\n",
                t.name, c.interrupted, c.checked, c.torn, c.newer,
                c.temporaries);
    total.interrupted += c.interrupted;
    total.checked += c.checked;
    total.torn += c.torn;
}

// Two writers of the key/value store, each setting keys k1..kN of its own
// section to 1..N, the first killed part way.  Returns the acknowledged keys
// missing or wrong at the end.
int lostUpdates(int keys, std::mt19937& rng, int& killedWrites)
{
    spill(KEYSHELF_PATH, "[SshControl]\neth0=0\n");
    int gate[2];
    openPipe(gate);
    auto writer = [](const char* section) {
        return [section](int i) {
            return set_ini_long(section, ("k" + std::to_string(i)).c_str(), i);
        };
    };
    int fdA = -1, fdB = -1, ackedA = 0, ackedB = 0;
    pid_t a = spawnWriter(fdA, keys, writer("SshControl"), gate);
    pid_t b = spawnWriter(fdB, keys, writer("GARP"), gate);
    ::close(gate[0]);
    ::close(gate[1]); // both start now
    readAcks(fdA, std::uniform_int_distribution<int>(1, keys - 1)(rng), ackedA);
    ::kill(a, SIGKILL);
    ::waitpid(a, nullptr, 0);
    readAcks(fdA, keys, ackedA);
    readAcks(fdB, keys, ackedB);
    ::waitpid(b, nullptr, 0);
    ::close(fdA);
    ::close(fdB);
    killedWrites = ackedA;
    int lost = get_ini_long("SshControl", "eth0", -1) != 0;
    for (int i = 1; i <= keys; ++i)
    {
        std::string key = "k" + std::to_string(i);
        lost += i <= ackedA && get_ini_long("SshControl", key.c_str(), -1) != i;
        lost += i <= ackedB && get_ini_long("GARP", key.c_str(), -1) != i;
    }
    removeTemporaries(KEYSHELF_PATH);
    return lost + (ackedB != keys);
}

int argOrEnv(int argc, char** argv, int i, const char* env, long fallback)
{
    const char* v = argc > i ? argv[i] : std::getenv(env);
    return v ? std::atoi(v) : static_cast<int>(fallback);
}

} // namespace

int main(int argc, char** argv)
{
    kestrel::test::requireSandbox();
    int kills = argOrEnv(argc, argv, 1, "CRASH_KILLS", 40);
    unsigned start = static_cast<unsigned>(argOrEnv(
        argc, argv, 2, "CRASH_RANDOM", std::random_device{}() & 0x7fffffff));
    std::printf("random start %u, %d kills per file\n", start, kills);
    std::mt19937 rng(start);
    Counts total;
    for (const Target& t : targets())
    {
        crashTarget(t, kills, rng, total);
    }
    int rounds = std::max(1, kills / 20), lost = 0, killedWrites = 0;
    for (int r = 0, w = 0; r < rounds; ++r, killedWrites += w)
    {
        lost += lostUpdates(40, rng, w);
    }
    std::printf("two writers: %d rounds of 2 x 40 keys, one killed after "
                "%d writes in all\n",
                rounds, killedWrites);
    std::printf("writes interrupted %d, files checked %d, torn files %d, "
                "lost updates %d\n",
                total.interrupted, total.checked, total.torn, lost);
    return total.torn == 0 && lost == 0 && total.interrupted > 0 ? 0 : 1;
}
