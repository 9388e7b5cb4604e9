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
using Bytes = std::vector<uint8_t>;

namespace
{

constexpr int generations = 24;
const std::string vsConfig =
    "/usr/share/phosphor-virtual-sensor/virtual_sensor_config.json";

Bytes slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void spill(const std::string& path, const Bytes& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Bytes text(const std::string& s)
{
    return {s.begin(), s.end()};
}

// Names of the writers' temporaries (".NAME.XXXXXX") beside `path`; a kill
// between their creation and the rename leaves one behind.
int removeTemporaries(const std::string& path)
{
    int n = 0;
    std::string prefix = "." + fs::path(path).filename().string() + ".";
    for (const auto& e : fs::directory_iterator(fs::path(path).parent_path()))
    {
        if (e.path().filename().string().starts_with(prefix))
        {
            fs::remove(e.path());
            ++n;
        }
    }
    return n;
}

struct Target
{
    const char* name;
    std::string path;
    Bytes initial;
    // Writes generation g (1..generations); 0 or a negative value.
    std::function<int(int)> write;
};

std::vector<Target> targets()
{
    using T = Target;
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
    sensors += "]";
    auto tjmax =
        kestrel::test::providerSymbol<int (*)(int)>("updateVirtualSensorTjmax");
    return {
        T{"key/value store", KEYSHELF_PATH,
          text("[SshControl]\neth0=0\n\n[GARP]\nEnabled=1\n"),
          [](int g) {
              std::string key = "k" + std::to_string(g % 7);
              return set_ini_long(g % 2 ? "GARP" : "SshControl", key.c_str(),
                                  g * 100003L);
          }},
        T{"EEPROM record areas", EEPROM_PATH, Bytes(16384, 0xFF),
          [](int g) {
              auto [offset, length] = areas[g % 4];
              Bytes data(length, static_cast<uint8_t>(g));
              return write_eeprom(data.data(), offset, length);
          }},
        T{"version records",
          REVSTORE_PATH,
          {},
          [](int g) {
              COMMON_VERSION_INFO info{};
              info.major = static_cast<uint8_t>(g);
              info.build = static_cast<uint8_t>(~g);
              return SetRevRecord(static_cast<uint8_t>(g % 29), &info);
          }},
        T{"sideband port", SIDEBANDCFG_PATH, text("0\n"),
          [](int g) { return SetSidebandPort(static_cast<uint8_t>(g * 37)); }},
        T{"virtual-sensor configuration", vsConfig, text(sensors),
          [tjmax](int g) { return tjmax ? tjmax(60 + g) : -1; }},
    };
}

struct Counts
{
    int interrupted = 0, checked = 0, torn = 0, newer = 0, temporaries = 0;
};

// Starts a child that runs `work(ack)` and exits; `ack` writes one byte to
// the pipe the parent reads.
pid_t spawn(int& readEnd, const std::function<void(int)>& work)
{
    int fds[2];
    if (::pipe(fds) != 0)
    {
        std::perror("pipe");
        std::exit(1);
    }
    pid_t pid = ::fork();
    if (pid == 0)
    {
        ::close(fds[0]);
        work(fds[1]);
        ::_exit(0);
    }
    ::close(fds[1]);
    readEnd = fds[0];
    return pid;
}

void ack(int fd, char c = '+')
{
    if (::write(fd, &c, 1) != 1)
    {
        ::_exit(2);
    }
}

// Reads the child's marks until `want` writes were acknowledged ('+') or
// the pipe closed; counts them in `done` and tells whether a write had begun
// ('<') without its acknowledgement.  An 'E' (a failed write) is fatal.
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

Counts crashTarget(const Target& t, int kills, std::mt19937& rng)
{
    Counts c;
    // The generations' contents, written here first from the same start.
    std::vector<Bytes> expected{t.initial};
    spill(t.path, t.initial);
    auto start = std::chrono::steady_clock::now();
    for (int g = 1; g <= generations; ++g)
    {
        if (t.write(g) < 0)
        {
            std::fprintf(stderr, "%s: generation %d not written\n", t.name, g);
            std::exit(1);
        }
        expected.push_back(slurp(t.path));
    }
    // The kill lands up to about two writes after the chosen one.
    auto perWrite = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - start) /
                    generations;
    std::uniform_int_distribution<int> after(0, 3);
    std::uniform_int_distribution<long> delay(0, 2 * perWrite.count() + 1);
    removeTemporaries(t.path);

    for (int k = 0; k < kills; ++k)
    {
        spill(t.path, t.initial);
        int fd = -1;
        pid_t pid = spawn(fd, [&t](int out) {
            for (int g = 1; g <= generations; ++g)
            {
                ack(out, '<');
                ack(out, t.write(g) < 0 ? 'E' : '+');
            }
        });
        int acked = 0;
        readAcks(fd, after(rng), acked);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(rng)));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        // Killed inside a write: begun, never acknowledged.
        bool inWrite = readAcks(fd, generations, acked);
        ::close(fd);
        c.interrupted += inWrite;
        Bytes now = slurp(t.path);
        ++c.checked;
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
    return c;
}

// Two writers of the key/value store, each adding keys of its own section,
// the first killed part way.  Returns the acknowledged keys missing or
// wrong at the end.
int lostUpdates(int keys, std::mt19937& rng, int& killedWrites)
{
    spill(KEYSHELF_PATH, text("[SshControl]\neth0=0\n"));
    int gate[2];
    if (::pipe(gate) != 0)
    {
        std::exit(1);
    }
    auto writer = [keys, gate](const char* section) {
        return [=](int out) {
            // Both start when the parent closes the gate's write end.
            ::close(gate[1]);
            char go;
            if (::read(gate[0], &go, 1) != 0)
            {
                ::_exit(2);
            }
            for (int i = 0; i < keys; ++i)
            {
                std::string key = "k" + std::to_string(i);
                ack(out, '<');
                ack(out, set_ini_long(section, key.c_str(), i) < 0 ? 'E' : '+');
            }
        };
    };
    int fdA = -1, fdB = -1;
    pid_t a = spawn(fdA, writer("SshControl"));
    pid_t b = spawn(fdB, writer("GARP"));
    ::close(gate[0]);
    ::close(gate[1]); // both start now
    int ackedA = 0, ackedB = 0;
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
    for (int i = 0; i < keys; ++i)
    {
        std::string key = "k" + std::to_string(i);
        lost += i < ackedA && get_ini_long("SshControl", key.c_str(), -1) != i;
        lost += i < ackedB && get_ini_long("GARP", key.c_str(), -1) != i;
    }
    lost += ackedB != keys;
    removeTemporaries(KEYSHELF_PATH);
    return lost;
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
        Counts c = crashTarget(t, kills, rng);
        std::printf("%-30s interrupted %5d  checked %5d  torn %d  (new "
                    "content %d, temporaries left %d)\n",
                    t.name, c.interrupted, c.checked, c.torn, c.newer,
                    c.temporaries);
        total.interrupted += c.interrupted;
        total.checked += c.checked;
        total.torn += c.torn;
    }

    int rounds = std::max(1, kills / 20), lost = 0, killedWrites = 0;
    for (int r = 0; r < rounds; ++r)
    {
        int w = 0;
        lost += lostUpdates(40, rng, w);
        killedWrites += w;
    }
    std::printf("two writers: %d rounds of 2 x 40 keys, one killed after "
                "%d writes in all\n",
                rounds, killedWrites);
    std::printf("writes interrupted %d, files checked %d, torn files %d, "
                "lost updates %d\n",
                total.interrupted, total.checked, total.torn, lost);
    return total.torn == 0 && lost == 0 && total.interrupted > 0 ? 0 : 1;
}
