// The ipmid host as providers see it: loading, dispatch, exception answers.
#include "host.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace kestrel::test;

static std::vector<std::string> loadedProbes;

extern "C" __attribute__((visibility("default"))) void
    probeLoaded(const char* name)
{
    loadedProbes.emplace_back(name);
}

TEST(Host, LoadsSoFilesInSortedOrderAndDispatchesByTheirRules)
{
    fs::path dir = tempDir();
    fs::copy_file(PROBE_A, dir / "10-probe.so");
    fs::copy_file(PROBE_B, dir / "20-probe.so.1");
    fs::create_symlink(dir / "10-probe.so", dir / "30-link.so");
    writeFile(dir / "15-broken.so", std::string("not elf"));
    writeFile(dir / "notes.txt", std::string("x"));
    writeFile(dir / "libfake.sox", std::string("x"));
    std::size_t mark = journalMark();
    EXPECT_EQ(ipmi::host::loadProviders(dir.string()).size(), 2u);
    EXPECT_THAT(loadedProbes, testing::ElementsAre("a", "b"));
    auto failed = waitForJournal("ERROR opening IPMI provider", mark);
    ASSERT_TRUE(failed);
    EXPECT_EQ((*failed)["PROVIDER"], (dir / "15-broken.so").string());
    EXPECT_EQ((*failed)["PRIORITY"], "3");
    EXPECT_FALSE((*failed)["ERROR"].empty());

    mark = journalMark();
    // NetFn, command, request, completion code and response.
    const std::tuple<ipmi::NetFn, ipmi::Cmd, Bytes, Bytes> rows[] = {
        // Equal priority: the last provider wins; a lower one displaces none.
        {0x30, 0x20, {}, {0x00, 'b'}},
        {0x30, 0x13, {}, {0x00, 0x30}},
        {0x30, 0x01, {1, 2, 3}, {0x00, 1, 2, 3}},
        {0x30, 0x05, {9, 9, 9}, {0xC9, 0x42, 0x00, 0x00}}, // length kept
        // Exceptions: std, HandlerException, int.
        {0x30, 0x02, {7}, {0xFF}},
        {0x30, 0x03, {}, {0xD5}},
        {0x30, 0x04, {}, {0xFF}},
        // Typed: uint8_t + optional<uint8_t>, then no arguments.
        {0x30, 0x10, {}, {0xC7}},
        {0x30, 0x10, {2}, {0x00, 2, 0x10, 4}},
        {0x30, 0x10, {2, 3}, {0x00, 5, 0x10, 4}},
        {0x30, 0x10, {2, 3, 4}, {0xC7}},
        {0x30, 0x11, {}, {0x00, 1, 2, 3, 4, 5, 6, 7, 8}},
        {0x30, 0x12, {0x01}, {0xCC}},
        {0x30, 0x12, {}, {0xFF}},
        // Wildcard, nothing, OEM privilege (session-less runs at Admin).
        {0x30, 0x77, {1, 2}, {0x00, 0x30}},
        {0x32, 0x77, {1}, {0xC1}},
        {0x30, 0x14, {}, {0xD4}},
        // ipmitool's PICMG probe: answered with the group byte in front.
        {0x2C, 0x00, {0x00}, {0xC1, 0x00}},
        {0x2C, 0x00, {}, {0xC7}},
    };
    for (const auto& [netFn, cmd, request, expected] : rows)
    {
        auto r = send(netFn, cmd, request);
        r.data.insert(r.data.begin(), r.cc);
        EXPECT_EQ(r.data, expected) << int{netFn} << " " << int{cmd};
    }

    // Each answer's entry, as "FIELD=value"s.
    const std::vector<std::string> logged[] = {
        {"MESSAGE=Legacy Handler failed to catch exception", "PRIORITY=3",
         "NETFN=30", "CMD=2", "EXCEPTION=legacy boom"},
        {"MESSAGE=Legacy Handler produced exception", "PRIORITY=6", "CC=d5",
         "EXCEPTION=not now"},
        {"MESSAGE=Handler failed to catch exception", "EXCEPTION=int"},
        {"MESSAGE=Handler produced exception", "PRIORITY=6", "NETFN=30",
         "CMD=12", "CC=cc", "EXCEPTION=typed refusal"},
        {"MESSAGE=Handler failed to catch exception", "PRIORITY=3",
         "EXCEPTION=typed boom"},
    };
    for (const auto& fields : logged)
    {
        auto matches = [&fields](const JournalEntry& e) {
            return std::ranges::all_of(fields, [&e](const std::string& f) {
                auto eq = f.find('=');
                return e[f.substr(0, eq)] == f.substr(eq + 1);
            });
        };
        EXPECT_TRUE(waitForJournal(matches, mark))
            << testing::PrintToString(fields);
    }
}
