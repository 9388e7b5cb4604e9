// NC-SI select, set network interface and SSH control, against fakes of
// the sideband store, the shell, systemd and the network service.
#include "dbus_names.hpp"
#include "fakes.hpp"
#include "ncsi_select.hpp"
#include "network_interface.hpp"
#include "ssh_login.hpp"

namespace kestrel::test::network_cases
{

using namespace ncsi_select;
using namespace network_interface;
using namespace ssh_login;

/** Everything the network commands reach, in one log.  SSH is allowed on
 *  usb0 and blocked on eth2; the other interfaces cannot be read. */
struct FakeNetwork : FakeUnits, NetworkService, SidebandStore, Shell, SshSetting
{
    int result = 0; // of the store and of SSH writes
    int stored = 0;

    void factoryReset() override
    {
        failIf(fail);
        calls.emplace_back("Reset");
    }
    void deleteAll(const std::string& interfacePath) override
    {
        failIf(fail);
        calls.push_back("DeleteAll " + interfacePath);
    }
    int port() override
    {
        return stored;
    }
    int setPort(uint8_t port) override
    {
        calls.push_back("store " + std::to_string(port));
        return result;
    }
    int run(const char* command) override
    {
        calls.emplace_back(command);
        return -1; // of no consequence
    }
    std::optional<bool> allowed(const std::string& path) override
    {
        auto name = path.substr(path.rfind('/') + 1);
        calls.push_back("read " + name);
        return name == "usb0"   ? std::optional(true)
               : name == "eth2" ? std::optional(false)
                                : std::nullopt;
    }
    bool setAllowed(const std::string& path, bool allowed) override
    {
        calls.push_back((allowed ? "allow " : "block ") + path);
        return result == 0;
    }
};

Answer ncsi(Request in, FakeNetwork& fx)
{
    return setNcsiSelect(in, fx, fx, {"unbind", "bind", "restart"});
}

TEST(NcsiSelect, SetAndGet)
{
    const Strings steps = {"unbind", "store 255", "bind", "restart"};
    const Case cases[] = {
        {"empty", {}, failure(0xC7)},
        {"trailing", {0xFF, 0x09}, success(), steps},
    };
    check<FakeNetwork>(cases, ncsi);
    // The MAC comes back on the old selection.
    FakeNetwork failing;
    failing.result = -EIO;
    const Case failed[] = {{"store fails", {0xFF}, failure(0xFF), steps}};
    check(failed, ncsi, failing);

    const std::pair<int, Answer> ports[] = {
        {3, success({0x03})}, {0x1FF, success({0xFF})}, {-EIO, failure(0xFF)}};
    for (const auto& [stored, expected] : ports)
    {
        failing.stored = stored;
        EXPECT_EQ(getNcsiSelect(Bytes{0x07}, failing), expected) << stored;
    }
}

TEST(NetworkInterface, Requests)
{
    const std::string restart = std::string("Restart ") + dbus::unitNetworkd;
    const std::string del = std::string("DeleteAll ") + dbus::networkRoot;
    const Case cases[] = {
        {"empty", {}, failure(0xC7)},
        {"restart, trailing", {0x00, 0x02}, success(), {restart}},
        {"factory reset", {0x01}, success(), {"Reset"}},
        {"delete without selector", {0x02}, failure(0xC7)},
        {"delete selector 0", {0x02, 0x00}, failure(0xC1)},
        {"delete eth1, trailing", {2, 1, 2}, success(), {del + "eth1"}},
        {"delete eth0", {0x02, 0x02}, success(), {del + "eth0"}},
        {"delete selector 3", {0x02, 0x03}, failure(0xC1)},
        {"action 3", {0x03}, failure(0xC1)},
    };
    auto set = [](Request in, FakeNetwork& fx) {
        return setNetworkIntf(in, fx, fx);
    };
    check<FakeNetwork>(cases, set);
    FakeNetwork failing;
    failing.fail = true;
    EXPECT_THROW(set(Bytes{0x01}, failing), BusFailure);
}

TEST(SshLogin, SetAndGet)
{
    const std::string eth2 = std::string(dbus::networkRoot) + "eth2";
    const std::string usb0 = std::string(dbus::networkRoot) + "usb0";
    // Request: interface, state.
    const Case cases[] = {
        {"block allowed", {0, 0}, success(), {"read usb0", "block " + usb0}},
        {"allow blocked", {3, 1}, success(), {"read eth2", "allow " + eth2}},
        {"allow allowed", {0, 1}, success(), {"read usb0"}},
        {"unknown interface", {4, 0}, failure(0xCC)},
        {"unknown state", {0, 2}, failure(0xCC)},
        {"unreadable", {1, 0}, failure(0xCC), {"read eth0"}},
    };
    auto set = [](Request in, FakeNetwork& fx) {
        return sshControlSet(in[0], in[1], fx);
    };
    check<FakeNetwork>(cases, set);
    FakeNetwork refusing;
    refusing.result = -1;
    EXPECT_EQ(set(Bytes{3, 1}, refusing), failure(0xFF));

    FakeNetwork fx;
    EXPECT_EQ(sshControlGet(0, fx), success({0x01}));
    EXPECT_EQ(sshControlGet(3, fx), success({0x00}));
    EXPECT_EQ(sshControlGet(2, fx), failure(0xCC)); // unreadable
    EXPECT_EQ(sshControlGet(4, fx), failure(0xCC)); // unknown, not read
    EXPECT_EQ(fx.calls, (Strings{"read usb0", "read eth2", "read eth1"}));
}

} // namespace kestrel::test::network_cases
