// NC-SI select, set network interface and SSH control.
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

/** Everything the network commands reach, in one log. */
struct FakeNetwork : FakeUnits, NetworkService, SidebandStore, Shell, SshSetting
{
    FAKE(void, factoryReset, ());
    FAKE(void, deleteAll, (const std::string& path), path);
    FAKE(int, port, ());
    FAKE(int, setPort, (uint8_t port), port);
    FAKE(int, run, (const char* command), command);
    FAKE(std::optional<bool>, allowed, (const std::string& path), path);
    FAKE(bool, setAllowed, (const std::string& path, bool on), path, on);
};

// "allowed <path>", "setAllowed <path> <state>" for SSH on an interface.
std::string ssh(const char* name, const char* state = nullptr)
{
    std::string path = std::string(dbus::networkRoot) + name;
    return state ? "setAllowed " + path + " " + state : "allowed " + path;
}

TEST(Network, NcsiSelectSetInterfaceAndSsh)
{
    auto ncsi = [](Request in, FakeNetwork& fx) {
        return setNcsiSelect(in, fx, fx, {"unbind", "bind", "restart"});
    };
    const Strings steps = {"run unbind", "setPort 255", "run bind",
                           "run restart"};
    const Case cases[] = {
        {"empty", {}, cc(0xC7)},
        {"trailing", {0xFF, 0x09}, ok(), steps},
    };
    check<FakeNetwork>(cases, ncsi);
    // The MAC comes back on the old selection.
    FakeNetwork failing;
    failing.answers = {{"run", "-1"}, {"setPort", "-5"}};
    const Case failed[] = {{"store fails", {0xFF}, cc(0xFF), steps}};
    check(failed, ncsi, failing);

    failing.answers = {{"port", "0x1FF"}};
    EXPECT_EQ(getNcsiSelect(Bytes{0x07}, failing), ok({0xFF}));
    failing.answers = {{"port", "-5"}};
    EXPECT_EQ(getNcsiSelect({}, failing), cc(0xFF));

    const std::string restart =
        std::string("startStop Restart ") + dbus::unitNetworkd;
    const std::string del = std::string("deleteAll ") + dbus::networkRoot;
    const Case requests[] = {
        {"empty", {}, cc(0xC7)},
        {"restart, trailing", {0x00, 0x02}, ok(), {restart}},
        {"factory reset", {0x01}, ok(), {"factoryReset"}},
        {"delete without selector", {0x02}, cc(0xC7)},
        {"delete selector 0", {0x02, 0x00}, cc(0xC1)},
        {"delete eth1, trailing", {2, 1, 2}, ok(), {del + "eth1"}},
        {"delete eth0", {0x02, 0x02}, ok(), {del + "eth0"}},
        {"delete selector 3", {0x02, 0x03}, cc(0xC1)},
        {"action 3", {0x03}, cc(0xC1)},
    };
    auto set = [](Request in, auto& fx) { return setNetworkIntf(in, fx, fx); };
    check<FakeNetwork>(requests, set);
    failing.answers = {{"factoryReset", "throw"}};
    EXPECT_THROW(set(Bytes{0x01}, failing), BusFailure);

    // Request: interface, state (Get: the interface).
    const Case logins[] = {
        {"block allowed", {0, 0}, ok(), {ssh("usb0"), ssh("usb0", "0")}},
        {"allow blocked", {3, 1}, ok(), {ssh("eth2"), ssh("eth2", "1")}},
        {"allow allowed", {0, 1}, ok(), {ssh("usb0")}},
        {"unknown interface", {4, 0}, cc(0xCC)},
        {"unknown state", {0, 2}, cc(0xCC)},
        {"unreadable", {1, 0}, cc(0xCC), {ssh("eth0")}},
        {"get allowed", {0}, ok({0x01}), {ssh("usb0")}},
        {"get blocked", {3}, ok({0x00}), {ssh("eth2")}},
        {"get unreadable", {2}, cc(0xCC), {ssh("eth1")}},
        {"get unknown, not read", {4}, cc(0xCC)},
    };
    auto login = [](Request in, auto& fx) {
        return sshControlSet(in[0], in[1], fx);
    };
    // SSH is allowed on usb0 and blocked on eth2; the others cannot be read.
    FakeNetwork fx;
    fx.answers = {{ssh("usb0"), "1"}, {ssh("eth2"), "0"}, {"setAllowed", "1"}};
    check(logins, login, fx,
          [](Request in, auto& net) { return sshControlGet(in[0], net); });
    fx.answers.erase("setAllowed");
    EXPECT_EQ(login(Bytes{3, 1}, fx), cc(0xFF)); // refused
}

} // namespace kestrel::test::network_cases
