// Set network interface against a fake systemd and network service.
#include "dbus_names.hpp"
#include "fakes.hpp"
#include "network_interface.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using network_interface::setNetworkIntf;
using testing::IsEmpty;

struct FakeNetwork : network_interface::NetworkService
{
    std::vector<std::string> calls;
    bool fail = false;

    void factoryReset() override
    {
        if (fail)
        {
            throw BusFailure();
        }
        calls.push_back("Reset");
    }
    void deleteAll(const std::string& interfacePath) override
    {
        if (fail)
        {
            throw BusFailure();
        }
        calls.push_back("DeleteAll " + interfacePath);
    }
};

const std::string restart = std::string("Restart ") + dbus::unitNetworkd;
const std::string eth0 = "DeleteAll /xyz/openbmc_project/network/eth0";
const std::string eth1 = "DeleteAll /xyz/openbmc_project/network/eth1";

TEST(NetworkInterface, Requests)
{
    const struct
    {
        const char* name;
        Bytes request;
        Answer expected;
        std::vector<std::string> units;
        std::vector<std::string> network;
    } cases[] = {
        {"empty", {}, failure(0xC7), {}, {}},
        {"restart", {0x00}, success(), {restart}, {}},
        {"restart trailing", {0x00, 0x02}, success(), {restart}, {}},
        {"factory reset", {0x01}, success(), {}, {"Reset"}},
        {"factory reset trailing", {0x01, 0x01}, success(), {}, {"Reset"}},
        {"delete without selector", {0x02}, failure(0xC7), {}, {}},
        {"delete selector 0", {0x02, 0x00}, failure(0xC1), {}, {}},
        {"delete eth1", {0x02, 0x01}, success(), {}, {eth1}},
        {"delete eth0", {0x02, 0x02}, success(), {}, {eth0}},
        {"delete selector 3", {0x02, 0x03}, failure(0xC1), {}, {}},
        {"delete trailing", {0x02, 0x01, 0x02}, success(), {}, {eth1}},
        {"action 3", {0x03}, failure(0xC1), {}, {}},
        {"action 255", {0xFF, 0x01}, failure(0xC1), {}, {}},
    };
    for (const auto& c : cases)
    {
        FakeUnits units;
        FakeNetwork network;
        EXPECT_EQ(setNetworkIntf(c.request, units, network), c.expected)
            << c.name;
        EXPECT_EQ(units.calls, c.units) << c.name;
        EXPECT_EQ(network.calls, c.network) << c.name;
    }
}

TEST(NetworkInterface, BusFailuresEscape)
{
    FakeUnits units;
    FakeNetwork network;
    units.fail = true;
    network.fail = true;
    EXPECT_THROW(setNetworkIntf(Bytes{0x00}, units, network), BusFailure);
    EXPECT_THROW(setNetworkIntf(Bytes{0x01}, units, network), BusFailure);
    EXPECT_THROW(setNetworkIntf(Bytes{0x02, 0x02}, units, network), BusFailure);
    // A bad selector fails before anything reaches the bus.
    EXPECT_EQ(setNetworkIntf(Bytes{0x02, 0x05}, units, network), failure(0xC1));
    EXPECT_THAT(network.calls, IsEmpty());
}

} // namespace
} // namespace kestrel::test
