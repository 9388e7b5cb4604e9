// GPIO get and set against fake lines and LED groups.
#include "dbus_names.hpp"
#include "fakes.hpp"
#include "gpiocmd.hpp"

namespace kestrel::test::gpiocmd_cases
{

using namespace gpiocmd;

const std::string fault = std::string("on ") + dbus::ledSystemFault;

/** Line 5 of chip "c" answers `direction` and `value`; no other line can
 *  be reached.  Passes log "chip offset consumer what". */
struct FakeGpio : FakeLedGroups, GpioLines, gpiocmd::Log
{
    int direction = 2;
    int value = 1;

    int readLine(const std::string& chip, uint8_t offset,
                 const std::string& consumer, Read what) override
    {
        bool dir = what == Read::direction;
        calls.push_back(chip + std::to_string(offset) + " " + consumer +
                        (dir ? " direction" : " value"));
        return chip != "c" || offset != 5 ? -1 : dir ? direction : value;
    }
    bool writeLine(const std::string& chip, uint8_t offset,
                   const std::string& consumer, bool output,
                   uint8_t level) override
    {
        calls.push_back(chip + std::to_string(offset) + " " + consumer +
                        (output ? " out " : " in ") + std::to_string(level));
        return chip == "c" && offset == 5;
    }
    void systemFaultLed() override
    {
        calls.emplace_back("log");
    }
};

TEST(Gpio, Set)
{
    const std::string out7 = "c5 ipmiset out 7", off = "off" + fault.substr(2);
    const Case cases[] = {
        {"too short", {0x05, 0x02}, failure(0xC7)},
        {"input", {5, 0x01, 1}, success({5, 1, 1}), {"c5 ipmiset in 1"}},
        {"output, trailing", {5, 2, 7, 9}, success({5, 2, 7}), {out7}},
        {"direction 0", {0x05, 0x00, 0x01}, failure(0xCC)},
        {"direction 3", {0x05, 0x03, 0x01}, failure(0xCC)},
        {"unreachable", {6, 1, 0}, failure(0xCC), {"c6 ipmiset in 0"}},
        {"fault LED", {0x33, 2, 0x80}, success({0x33, 2, 0}), {"log", fault}},
        {"fault LED off", {0x33, 9, 0}, success({0x33, 9, 0}), {"log", off}},
    };
    auto set = [](Request in, FakeGpio& g) {
        return setGpio(in, g, g, g, "c");
    };
    check<FakeGpio>(cases, set);
    // The entry is written before the bus call that fails.
    FakeGpio failing;
    failing.fail = true;
    EXPECT_THROW(set(Bytes{0x33, 0x01, 0x01}, failing), BusFailure);
    EXPECT_EQ(failing.calls, Strings{"log"});
}

TEST(Gpio, Get)
{
    const Strings passes = {"c5 ipmiget direction", "c5 ipmiget value"};
    const std::string c6dir = "c6 ipmiget direction",
                      c6value = "c6 ipmiget value";
    const Case cases[] = {
        {"empty", {}, failure(0xC7)},
        {"trailing", {0x05, 0x33}, success({5, 1, 2, 1}), passes},
        {"unreachable", {6}, success({6, 1, 0xFF, 0xFF}), {c6dir, c6value}},
    };
    auto get = [](Request in, FakeGpio& g) { return getGpio(in, g, "c"); };
    check<FakeGpio>(cases, get);
    FakeGpio odd;
    odd.direction = 3;
    odd.value = 2;
    EXPECT_EQ(get(Bytes{5}, odd), success({5, 1, 0xFF, 0xFF}));
    odd.direction = 1;
    odd.value = 0;
    EXPECT_EQ(get(Bytes{5}, odd), success({5, 1, 1, 0}));
}

} // namespace kestrel::test::gpiocmd_cases
