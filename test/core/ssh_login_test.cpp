// SSH control against a fake `SSH` property store.
#include "fakes.hpp"
#include "ssh_login.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using ssh_login::sshControlGet;
using ssh_login::sshControlSet;
using testing::ElementsAre;
using testing::IsEmpty;

const std::string usb0 = "/xyz/openbmc_project/network/usb0";
const std::string eth0 = "/xyz/openbmc_project/network/eth0";
const std::string eth1 = "/xyz/openbmc_project/network/eth1";
const std::string eth2 = "/xyz/openbmc_project/network/eth2";

/** Interfaces absent from `values` cannot be read. */
struct FakeSsh : ssh_login::SshSetting
{
    std::map<std::string, bool> values;
    bool refuseWrites = false;
    std::vector<std::string> reads;
    std::vector<std::pair<std::string, bool>> writes;

    std::optional<bool> allowed(const std::string& path) override
    {
        reads.push_back(path);
        auto it = values.find(path);
        if (it == values.end())
        {
            return std::nullopt;
        }
        return it->second;
    }
    bool setAllowed(const std::string& path, bool allowed) override
    {
        writes.emplace_back(path, allowed);
        if (refuseWrites)
        {
            return false;
        }
        values[path] = allowed;
        return true;
    }
};

TEST(SshLogin, SetWritesOnlyChanges)
{
    using Write = std::pair<std::string, bool>;
    const struct
    {
        const char* name;
        uint8_t interface;
        uint8_t state;
        bool current;
        std::vector<Write> writes;
    } cases[] = {
        {"block allowed", 1, 0, true, {{eth0, false}}},
        {"allow blocked", 3, 1, false, {{eth2, true}}},
        {"block blocked", 0, 0, false, {}},
        {"allow allowed", 1, 1, true, {}},
    };
    for (const auto& c : cases)
    {
        FakeSsh ssh;
        ssh.values = {{usb0, c.current}, {eth0, c.current}, {eth2, c.current}};
        EXPECT_EQ(sshControlSet(c.interface, c.state, ssh), success())
            << c.name;
        EXPECT_EQ(ssh.writes, c.writes) << c.name;
    }
}

TEST(SshLogin, SetRefusals)
{
    // Bad fields are refused before anything is read.
    for (auto [interface, state] :
         {std::pair<uint8_t, uint8_t>{4, 0}, {0xFF, 1}, {1, 2}, {1, 0xFF}})
    {
        FakeSsh ssh;
        ssh.values = {{eth0, true}};
        EXPECT_EQ(sshControlSet(interface, state, ssh), failure(0xCC));
        EXPECT_THAT(ssh.reads, IsEmpty());
    }

    FakeSsh unreadable;
    EXPECT_EQ(sshControlSet(1, 0, unreadable), failure(0xCC));
    EXPECT_THAT(unreadable.reads, ElementsAre(eth0));
    EXPECT_THAT(unreadable.writes, IsEmpty());

    FakeSsh refusing;
    refusing.values = {{eth0, true}};
    refusing.refuseWrites = true;
    EXPECT_EQ(sshControlSet(1, 0, refusing), failure(0xFF));
    EXPECT_EQ(refusing.values[eth0], true);
}

TEST(SshLogin, GetReportsTheNumberedInterface)
{
    FakeSsh ssh;
    ssh.values = {{usb0, true}, {eth0, false}, {eth1, true}};
    EXPECT_EQ(sshControlGet(0, ssh), success({0x01}));
    EXPECT_EQ(sshControlGet(1, ssh), success({0x00}));
    EXPECT_EQ(sshControlGet(2, ssh), success({0x01}));
    EXPECT_EQ(sshControlGet(3, ssh), failure(0xCC)); // unreadable
    EXPECT_EQ(sshControlGet(4, ssh), failure(0xCC)); // unknown, not read
    EXPECT_EQ(sshControlGet(0xFF, ssh), failure(0xCC));
    EXPECT_THAT(ssh.reads, ElementsAre(usb0, eth0, eth1, eth2));
    EXPECT_THAT(ssh.writes, IsEmpty());
}

} // namespace
} // namespace kestrel::test
