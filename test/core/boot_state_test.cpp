// BIOS POST status, BMC interface and boot complete.
#include "bios_post_status.hpp"
#include "bmc_interface.hpp"
#include "boot_complete.hpp"
#include "dbus_names.hpp"
#include "fakes.hpp"

namespace kestrel::test::boot_state_cases
{

using namespace bios_post_status;

/** Records each stage published with the status kept at that moment. */
struct FakeProgress : BootProgress, Recorder
{
    uint8_t last = 0xEE;
    FAKE(void, setStage, (const std::string& s), last, s.substr(s.rfind('.')));
};

TEST(BootState, BiosPostStatusBmcInterfaceAndBootComplete)
{
    auto set = [](Request in, auto& p) {
        return setBiosPostStatus(in, p.last, p);
    };
    const Case cases[] = {
        {"empty", {}, cc(0xC7)},
        {"0", {0x00}, ok(), {"setStage 0 .Unspecified"}},
        {"2", {0x02}, ok(), {"setStage 2 .SystemInitComplete"}},
        {"3, trailing", {3, 9}, ok(), {"setStage 3 .SystemInitComplete"}},
        {"4", {0x04}, ok(), {"setStage 4 .OSStart"}},
        {"past the last", {0x05}, cc(0xC1)},
    };
    check<FakeProgress>(cases, set);
    FakeProgress progress; // the status is kept when publishing fails
    progress.answers = {{"setStage", "throw"}};
    EXPECT_THROW(set(Bytes{0x03}, progress), BusFailure);
    EXPECT_EQ(getBiosPostStatus(Bytes{0x01}, progress.last), ok({3}));

    const Case interfaces[] = {
        {"too short", {0x01, 0x00}, cc(0xC7)},
        {"bit 0, trailing", {0x01, 0x00, 0x01, 0x09}, ok({7, 0, 0})},
        {"largest mask", {0x01, 0x00, 0x07}, ok({0x07, 0x07, 0x07})},
        {"past the largest", {0x01, 0x00, 0x08}, cc(0xC1)},
        {"first byte not 1", {0x00, 0x00, 0x01}, cc(0xC1)},
        {"second byte not 0", {0x01, 0x01, 0x01}, cc(0xC1)},
    };
    check<Recorder>(interfaces, [](Request in, Recorder&) {
        return bmc_interface::getBmcInterface(in);
    });

    using boot_complete::getBootComplete;
    const std::string fault = dbus::ledSystemFault, booted = dbus::ledBmcBooted;
    FakeLedGroups leds;
    leds.answers = {{"asserted " + fault, "1"}};
    EXPECT_EQ(getBootComplete({}, leds), ok({0x00}));
    leds.answers = {{"asserted " + booted, "1"}};
    EXPECT_EQ(getBootComplete(Bytes{0x00, 0x05}, leds), ok({0x01}));
    leds.answers = {{"asserted", "throw"}};
    EXPECT_THROW(getBootComplete({}, leds), BusFailure);
}

} // namespace kestrel::test::boot_state_cases
