// AM5 CPU class and TJMAX update: the exported handlers and
// updateVirtualSensorTjmax, called by symbol on the loaded provider (no
// NetFn or command reaches them), against the sandbox's private /usr/share
// and the mocked systemd.
#include "mockbus.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <ipmid/api.hpp>
#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace mockbus = kestrel::test::mockbus;
using testing::ElementsAre;
using testing::IsEmpty;

namespace
{

const fs::path configDir = "/usr/share/phosphor-virtual-sensor";
const fs::path configFile = configDir / "virtual_sensor_config.json";

constexpr auto systemdObject = "/org/freedesktop/systemd1";
constexpr auto systemdManager = "org.freedesktop.systemd1.Manager";

// --- Fault injection: the provider's libc calls resolve to these (the test
// executable exports them).  They fail only for files in the configuration
// directory and only while a fault is armed; otherwise they pass through. ---

enum class Fault
{
    none,
    write,  // one short write, then ENOSPC: a disk that fills up mid-file
    fsync,  // EIO on the flush
    rename, // EIO on the rename over the original
};
std::atomic<Fault> fault{Fault::none};
std::atomic<int> faultedWrites{0};
// Size of the temporary when the fault struck, and its path.
std::atomic<long> partialSize{-1};
std::string faultedPath;

std::string fdPath(int fd)
{
    char link[4096];
    std::string proc = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = ::readlink(proc.c_str(), link, sizeof(link) - 1);
    return n > 0 ? std::string(link, static_cast<std::size_t>(n)) : "";
}

bool inConfigDir(const std::string& path)
{
    return path.starts_with(configDir.string() + "/");
}

void recordFault(int fd)
{
    struct stat st
    {
    };
    partialSize = ::fstat(fd, &st) == 0 ? static_cast<long>(st.st_size) : -1;
    faultedPath = fdPath(fd);
}

} // namespace

extern "C" ssize_t write(int fd, const void* buf, size_t count)
{
    using Write = ssize_t (*)(int, const void*, size_t);
    static auto real = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
    if (fault == Fault::write && inConfigDir(fdPath(fd)))
    {
        if (faultedWrites++ == 0)
        {
            return real(fd, buf, count / 2);
        }
        recordFault(fd);
        errno = ENOSPC;
        return -1;
    }
    return real(fd, buf, count);
}

extern "C" int fsync(int fd)
{
    using Fsync = int (*)(int);
    static auto real = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
    if (fault == Fault::fsync && inConfigDir(fdPath(fd)))
    {
        recordFault(fd);
        errno = EIO;
        return -1;
    }
    return real(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept
{
    using Rename = int (*)(const char*, const char*);
    static auto real = reinterpret_cast<Rename>(::dlsym(RTLD_NEXT, "rename"));
    if (fault == Fault::rename && inConfigDir(to))
    {
        struct stat st
        {
        };
        partialSize =
            ::stat(from, &st) == 0 ? static_cast<long>(st.st_size) : -1;
        faultedPath = from;
        errno = EIO;
        return -1;
    }
    return real(from, to);
}

namespace
{

using Legacy = ipmi_ret_t (*)(ipmi_netfn_t, ipmi_cmd_t, ipmi_request_t,
                              ipmi_response_t, ipmi_data_len_t, ipmi_context_t);
using Update = int (*)(int);

struct Answer
{
    uint8_t cc;
    std::vector<uint8_t> data;
};

// A request as ipmid passes it: the bytes, a zeroed 64 KiB response buffer
// and the request length in the length word.
Answer call(Legacy handler, std::vector<uint8_t> request)
{
    std::vector<uint8_t> response(64 * 1024, 0);
    std::size_t length = request.size();
    uint8_t cc =
        handler(0x3A, 0x00, request.data(), response.data(), &length, nullptr);
    response.resize(length);
    return {cc, response};
}

// The configuration of the edge cases: one sensor whose ConstParam list holds
// TJMAX and another constant, and one sensor without Params.
constexpr auto marginConfig = R"([
  {
    "Params": {
      "DbusParam": [
        {"ParamName": "T", "Desc": {"Name": "CPU_Temp", "SensorType": "temperature"}}
      ],
      "ConstParam": [
        {"ParamName": "TJMAX", "Value": 100},
        {"ParamName": "OFFSET", "Value": 7}
      ]
    },
    "Expression": "TJMAX - T",
    "Desc": {"Name": "CPU_Margin", "SensorType": "temperature", "Units": "\u00b0C"}
  },
  {"Desc": {"Name": "Board_Sum"}, "Expression": "A + B", "Threshold": 1.5}
]
)";

// marginConfig as written with TJMAX = VALUE: keys sorted, 4-space indent,
// UTF-8 unescaped, no final newline.
std::string marginExpected(int value)
{
    return R"([
    {
        "Desc": {
            "Name": "CPU_Margin",
            "SensorType": "temperature",
            "Units": "°C"
        },
        "Expression": "TJMAX - T",
        "Params": {
            "ConstParam": [
                {
                    "ParamName": "TJMAX",
                    "Value": )" +
           std::to_string(value) + R"(
                },
                {
                    "ParamName": "OFFSET",
                    "Value": 7
                }
            ],
            "DbusParam": [
                {
                    "Desc": {
                        "Name": "CPU_Temp",
                        "SensorType": "temperature"
                    },
                    "ParamName": "T"
                }
            ]
        }
    },
    {
        "Desc": {
            "Name": "Board_Sum"
        },
        "Expression": "A + B",
        "Threshold": 1.5
    }
])";
}

class Am5CpuSpecTest : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        using kestrel::test::providerSymbol;
        cpuDetection = providerSymbol<uint8_t*>("cpu_detection");
        setCpu = providerSymbol<Legacy>("ipmiSetAM5SpecCPU");
        getCpu = providerSymbol<Legacy>("ipmiGetAM5SpecCPU");
        update = providerSymbol<Update>("updateVirtualSensorTjmax");
        ASSERT_NE(cpuDetection, nullptr);
        ASSERT_NE(setCpu, nullptr);
        ASSERT_NE(getCpu, nullptr);
        ASSERT_NE(update, nullptr);
        initialValue = *cpuDetection;
        initialGet = call(getCpu, {});
    }

    void SetUp() override
    {
        ASSERT_NE(setCpu, nullptr);
        mockbus::reset(mockbus::systemd);
        fault = Fault::none;
        faultedWrites = 0;
        partialSize = -1;
        faultedPath.clear();
        fs::remove_all(configDir);
        fs::create_directories(configDir);
    }

    void TearDown() override
    {
        fault = Fault::none;
    }

    static void writeConfig(const std::string& text)
    {
        kestrel::test::writeFile(configFile, std::string_view(text));
    }

    static std::string readConfig()
    {
        return kestrel::test::readTextFile(configFile);
    }

    // Names in the configuration directory: a left-over temporary shows.
    static std::vector<std::string> dirEntries()
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(configDir))
        {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Exactly one systemd call, the restart of the virtual-sensor service.
    static void expectOneRestart()
    {
        auto calls = mockbus::allCalls(mockbus::systemd);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].path, systemdObject);
        EXPECT_EQ(calls[0].method, "RestartUnit");
        EXPECT_THAT(
            calls[0].args,
            ElementsAre("s:phosphor-virtual-sensor.service", "s:replace"));
    }

    // Entries since `mark` with this message, once everything the library
    // logged before now has reached the recorder: the test's own marker,
    // sent after, is waited for (one socket, entries in order).
    static std::vector<kestrel::test::JournalEntry>
        loggedSince(std::size_t mark, const std::string& message)
    {
        static int serial = 0;
        std::string barrier =
            "am5_cpu_test barrier " + std::to_string(++serial);
        sd_journal_send("MESSAGE=%s", barrier.c_str(), "PRIORITY=6", nullptr);
        EXPECT_TRUE(kestrel::test::waitForJournal(barrier, mark));
        std::vector<kestrel::test::JournalEntry> found;
        for (auto& e : kestrel::test::journalSince(mark))
        {
            if (e.message() == message)
            {
                found.push_back(e);
            }
        }
        return found;
    }

    static inline uint8_t* cpuDetection = nullptr;
    static inline Legacy setCpu = nullptr;
    static inline Legacy getCpu = nullptr;
    static inline Update update = nullptr;
    static inline uint8_t initialValue = 0xEE;
    static inline Answer initialGet;
};

TEST_F(Am5CpuSpecTest, ClassIsZeroBeforeAnySet)
{
    EXPECT_EQ(initialValue, 0x00);
    EXPECT_EQ(initialGet.cc, 0x00);
    EXPECT_THAT(initialGet.data, ElementsAre(0x00));
}

TEST_F(Am5CpuSpecTest, ClassOneSetsOnlyTjmaxTo89)
{
    writeConfig(marginConfig);
    Answer set = call(setCpu, {0x00, 0x01});
    EXPECT_EQ(set.cc, 0x00);
    EXPECT_THAT(set.data, IsEmpty());
    EXPECT_EQ(readConfig(), marginExpected(89));
    EXPECT_EQ(*cpuDetection, 0x01);
    expectOneRestart();

    Answer get = call(getCpu, {});
    EXPECT_EQ(get.cc, 0x00);
    EXPECT_THAT(get.data, ElementsAre(0x01));
    EXPECT_THAT(dirEntries(), ElementsAre("virtual_sensor_config.json"));
}

TEST_F(Am5CpuSpecTest, ClassZeroSets95AndGetAnswersZero)
{
    writeConfig(marginConfig);
    ASSERT_EQ(call(setCpu, {0x00, 0x01}).cc, 0x00);
    mockbus::clearCalls(mockbus::systemd);

    // Byte 0 is not used.
    Answer set = call(setCpu, {0xA5, 0x00});
    EXPECT_EQ(set.cc, 0x00);
    EXPECT_THAT(set.data, IsEmpty());
    EXPECT_EQ(readConfig(), marginExpected(95));
    expectOneRestart();
    Answer get = call(getCpu, {0x01, 0x02, 0x03});
    EXPECT_EQ(get.cc, 0x00);
    EXPECT_THAT(get.data, ElementsAre(0x00));

    ASSERT_EQ(call(setCpu, {0x00, 0x01}).cc, 0x00);
    EXPECT_EQ(readConfig(), marginExpected(89));
    EXPECT_THAT(call(getCpu, {}).data, ElementsAre(0x01));
}

TEST_F(Am5CpuSpecTest, EveryTjmaxGainsAMissingValue)
{
    writeConfig(R"([
      {"Params": {"ConstParam": [{"ParamName": "TJMAX"}, {"ParamName": "P1"}]}},
      {"Params": {"ConstParam": [{"Value": 3, "ParamName": "TJMAX", "Extra": null}]}}
    ])");
    EXPECT_EQ(update(95), 0);
    EXPECT_EQ(readConfig(), R"([
    {
        "Params": {
            "ConstParam": [
                {
                    "ParamName": "TJMAX",
                    "Value": 95
                },
                {
                    "ParamName": "P1"
                }
            ]
        }
    },
    {
        "Params": {
            "ConstParam": [
                {
                    "Extra": null,
                    "ParamName": "TJMAX",
                    "Value": 95
                }
            ]
        }
    }
])");
    // The function only edits the file; the handler restarts the service.
    EXPECT_THAT(mockbus::allCalls(mockbus::systemd), IsEmpty());
}

TEST_F(Am5CpuSpecTest, ConfigWithoutTjmaxIsStillReserialised)
{
    writeConfig("[{\"Params\":{\"ConstParam\":[{\"ParamName\":\"P1\",\"Value\":"
                "1}],\"DbusParam\":[]},\"Desc\":{\"Name\":\"Sum\",\"Units\":"
                "\"\xc2\xb5V\",\"Empty\":{}}}]\n");
    Answer set = call(setCpu, {0x00, 0x01});
    EXPECT_EQ(set.cc, 0x00);
    EXPECT_EQ(readConfig(), R"([
    {
        "Desc": {
            "Empty": {},
            "Name": "Sum",
            "Units": "µV"
        },
        "Params": {
            "ConstParam": [
                {
                    "ParamName": "P1",
                    "Value": 1
                }
            ],
            "DbusParam": []
        }
    }
])");
    expectOneRestart();
}

TEST_F(Am5CpuSpecTest, ClassAboveOneIsRejectedAndChangesNothing)
{
    writeConfig(marginConfig);
    ASSERT_EQ(call(setCpu, {0x00, 0x01}).cc, 0x00);
    std::string before = readConfig();
    mockbus::clearCalls(mockbus::systemd);
    writeConfig(marginConfig);

    for (uint8_t cpuClass : {0x02, 0x80, 0xFF})
    {
        SCOPED_TRACE(int(cpuClass));
        Answer set = call(setCpu, {0x00, cpuClass});
        EXPECT_EQ(set.cc, 0xC1);
        EXPECT_THAT(set.data, IsEmpty());
        EXPECT_EQ(*cpuDetection, 0x01);
        EXPECT_THAT(call(getCpu, {}).data, ElementsAre(0x01));
    }
    EXPECT_EQ(readConfig(), marginConfig);
    EXPECT_THAT(mockbus::allCalls(mockbus::systemd), IsEmpty());
    EXPECT_NE(before, marginConfig);
}

TEST_F(Am5CpuSpecTest, ShortRequestIsRejectedWithoutReadingPastIt)
{
    writeConfig(marginConfig);
    ASSERT_EQ(call(setCpu, {0x00, 0x01}).cc, 0x00);
    mockbus::clearCalls(mockbus::systemd);
    writeConfig(marginConfig);

    // The request ends at a page that may not be read: a read past it would
    // kill the test.
    long page = ::sysconf(_SC_PAGESIZE);
    auto* mem =
        static_cast<uint8_t*>(::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE,
                                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(mem, MAP_FAILED);
    ASSERT_EQ(::mprotect(mem + page, page, PROT_NONE), 0);
    uint8_t* end = mem + page;
    end[-1] = 0x00;

    for (std::size_t length : {0u, 1u})
    {
        SCOPED_TRACE(length);
        std::vector<uint8_t> response(64 * 1024, 0);
        std::size_t dataLen = length;
        uint8_t cc = setCpu(0x3A, 0x00, end - length, response.data(), &dataLen,
                            nullptr);
        EXPECT_EQ(cc, 0xC7);
        EXPECT_EQ(dataLen, 0u);
        EXPECT_EQ(*cpuDetection, 0x01);
    }
    ::munmap(mem, 2 * page);
    EXPECT_EQ(readConfig(), marginConfig);
    EXPECT_THAT(mockbus::allCalls(mockbus::systemd), IsEmpty());
}

TEST_F(Am5CpuSpecTest, MissingFileStillRestartsWithoutLogging)
{
    std::size_t mark = kestrel::test::journalMark();
    EXPECT_EQ(update(95), -1);
    EXPECT_THAT(mockbus::allCalls(mockbus::systemd), IsEmpty());

    Answer set = call(setCpu, {0x00, 0x01});
    EXPECT_EQ(set.cc, 0x00);
    EXPECT_THAT(set.data, IsEmpty());
    EXPECT_EQ(*cpuDetection, 0x01);
    expectOneRestart();
    EXPECT_FALSE(fs::exists(configFile));
    EXPECT_THAT(dirEntries(), IsEmpty());
    EXPECT_THAT(loggedSince(mark, "Error parsing virtual sensor config file"),
                IsEmpty());
    EXPECT_THAT(loggedSince(mark, "Error writing virtual sensor config file"),
                IsEmpty());

    // Without the directory too.
    fs::remove_all(configDir);
    mockbus::clearCalls(mockbus::systemd);
    EXPECT_EQ(call(setCpu, {0x00, 0x00}).cc, 0x00);
    EXPECT_EQ(*cpuDetection, 0x00);
    expectOneRestart();
    EXPECT_FALSE(fs::exists(configDir));
}

TEST_F(Am5CpuSpecTest, MalformedFileIsKeptLoggedAndStillRestarts)
{
    for (const std::string& text :
         {std::string("[{\"Params\": {\"ConstParam\": [{\"ParamName\": "
                      "\"TJMAX\", \"Value\": 95}]}"),
          std::string("// comment\n[]"), std::string(""),
          std::string("[1] [2]"), std::string("[\"\xff\"]")})
    {
        SCOPED_TRACE(text);
        mockbus::clearCalls(mockbus::systemd);
        writeConfig(text);
        std::size_t mark = kestrel::test::journalMark();
        EXPECT_EQ(update(89), -1);
        EXPECT_EQ(readConfig(), text);

        Answer set = call(setCpu, {0x00, 0x01});
        EXPECT_EQ(set.cc, 0x00);
        EXPECT_THAT(set.data, IsEmpty());
        EXPECT_EQ(*cpuDetection, 0x01);
        EXPECT_EQ(readConfig(), text);
        EXPECT_THAT(dirEntries(), ElementsAre("virtual_sensor_config.json"));
        expectOneRestart();

        auto logged =
            loggedSince(mark, "Error parsing virtual sensor config file");
        ASSERT_EQ(logged.size(), 2u);
        EXPECT_EQ(logged[0]["PRIORITY"], "3");
    }
}

class Am5WriteFaultTest : public Am5CpuSpecTest,
                          public testing::WithParamInterface<Fault>
{
};

TEST_P(Am5WriteFaultTest, FailedRewriteLeavesTheOriginalIntact)
{
    writeConfig(marginConfig);
    ::chmod(configFile.c_str(), 0640);
    std::size_t mark = kestrel::test::journalMark();
    fault = GetParam();
    EXPECT_EQ(update(89), -1);
    fault = Fault::none;

    // The fault struck a temporary beside the file, not the file itself.
    EXPECT_TRUE(inConfigDir(faultedPath)) << faultedPath;
    EXPECT_NE(faultedPath, configFile.string());
    if (GetParam() == Fault::write)
    {
        EXPECT_EQ(faultedWrites, 2);
        EXPECT_GT(partialSize, 0);
        EXPECT_LT(partialSize, static_cast<long>(marginExpected(89).size()));
    }
    else
    {
        EXPECT_EQ(partialSize, static_cast<long>(marginExpected(89).size()));
    }
    EXPECT_EQ(readConfig(), marginConfig);
    EXPECT_THAT(dirEntries(), ElementsAre("virtual_sensor_config.json"));
    struct stat st
    {
    };
    ASSERT_EQ(::stat(configFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    auto logged = loggedSince(mark, "Error writing virtual sensor config file");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0]["PRIORITY"], "3");
    EXPECT_EQ(logged[0]["ERRNO"],
              std::to_string(GetParam() == Fault::write ? ENOSPC : EIO));
    EXPECT_EQ(logged[0]["FILE"], configFile.string());

    // The handler still answers 0x00 and restarts the service.
    fault = GetParam();
    faultedWrites = 0;
    Answer set = call(setCpu, {0x00, 0x00});
    fault = Fault::none;
    EXPECT_EQ(set.cc, 0x00);
    EXPECT_EQ(*cpuDetection, 0x00);
    EXPECT_EQ(readConfig(), marginConfig);
    EXPECT_THAT(dirEntries(), ElementsAre("virtual_sensor_config.json"));
    expectOneRestart();

    // And the next attempt goes through.
    EXPECT_EQ(update(89), 0);
    EXPECT_EQ(readConfig(), marginExpected(89));
}

INSTANTIATE_TEST_SUITE_P(Faults, Am5WriteFaultTest,
                         testing::Values(Fault::write, Fault::fsync,
                                         Fault::rename),
                         [](const testing::TestParamInfo<Fault>& info) {
                             switch (info.param)
                             {
                                 case Fault::write:
                                     return "ShortWriteThenNoSpace";
                                 case Fault::fsync:
                                     return "FlushFails";
                                 case Fault::rename:
                                     return "RenameFails";
                                 default:
                                     return "None";
                             }
                         });

TEST_F(Am5CpuSpecTest, RewriteReplacesTheFileAndKeepsItsMode)
{
    writeConfig(marginConfig);
    ASSERT_EQ(::chmod(configFile.c_str(), 0640), 0);
    struct stat before
    {
    };
    ASSERT_EQ(::stat(configFile.c_str(), &before), 0);
    // A reader that opened the file before keeps seeing the old contents:
    // the file is replaced, not truncated and rewritten.
    int reader = ::open(configFile.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);

    EXPECT_EQ(update(95), 0);
    struct stat after
    {
    };
    ASSERT_EQ(::stat(configFile.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(readConfig(), marginExpected(95));
    EXPECT_THAT(dirEntries(), ElementsAre("virtual_sensor_config.json"));

    std::string old(std::string_view(marginConfig).size() + 16, '\0');
    ssize_t n = ::read(reader, old.data(), old.size());
    ::close(reader);
    ASSERT_GT(n, 0);
    old.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(old, marginConfig);
}

TEST_F(Am5CpuSpecTest, RestartFailureEscapesAfterClassAndFileAreSet)
{
    writeConfig(marginConfig);
    ASSERT_EQ(call(setCpu, {0x00, 0x00}).cc, 0x00);
    mockbus::failMethod(mockbus::systemd, systemdObject, systemdManager,
                        "RestartUnit", "ss", "o",
                        "org.freedesktop.DBus.Error.AccessDenied", "not now");
    std::string what;
    try
    {
        call(setCpu, {0x00, 0x01});
    }
    catch (const std::exception& e)
    {
        what = e.what();
    }
    EXPECT_THAT(what, testing::StartsWith("sd_bus_call noreply"));
    EXPECT_EQ(*cpuDetection, 0x01);
    EXPECT_EQ(readConfig(), marginExpected(89));
    auto restarts = mockbus::calls(mockbus::systemd, "RestartUnit");
    ASSERT_EQ(restarts.size(), 2u);
    EXPECT_THAT(restarts[1].args,
                ElementsAre("s:phosphor-virtual-sensor.service", "s:replace"));
}

} // namespace
