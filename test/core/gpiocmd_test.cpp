// GPIO get and set against fake lines and LED groups.
#include "dbus_names.hpp"
#include "fakes.hpp"
#include "gpiocmd.hpp"

namespace kestrel::test::gpiocmd_cases
{

using namespace gpiocmd;

/** Lines answer what `answers` holds; other lines fail. */
struct FakeGpio : FakeLedGroups, GpioLines, gpiocmd::Log
{
    FAKE(int, readLine,
         (const std::string& chip, uint8_t at, const std::string& user, Read r),
         chip, at, user, r == Read::value ? "value" : "direction");
    FAKE(bool, writeLine,
         (const std::string& chip, uint8_t at, const std::string& user,
          bool out, uint8_t level),
         chip, at, user, out, level);
    FAKE(void, systemFaultLed, ());
};

TEST(Gpio, SetAndGet)
{
    const std::string in1 = "writeLine c 5 ipmiset 0 1",
                      out7 = "writeLine c 5 ipmiset 1 7",
                      dir = "readLine c 5 ipmiget direction",
                      value = "readLine c 5 ipmiget value",
                      c6 = "readLine c 6 ipmiget ", log = "systemFaultLed",
                      on = "setAsserted 1 " + std::string(dbus::ledSystemFault);
    // Line 5 of chip "c" is an output at 1; it takes input 1 and output 7.
    FakeGpio line5;
    line5.answers = {
        {dir, "2"}, {value, "1"}, {"readLine", "-1"}, {in1, "1"}, {out7, "1"}};
    const Case cases[] = {
        {"too short", {0x05, 0x02}, cc(0xC7)},
        {"input", {5, 0x01, 1}, ok({5, 1, 1}), {in1}},
        {"output, trailing", {5, 2, 7, 9}, ok({5, 2, 7}), {out7}},
        {"direction 0", {0x05, 0x00, 0x01}, cc(0xCC)},
        {"direction 3", {0x05, 0x03, 0x01}, cc(0xCC)},
        {"unreachable", {6, 1, 0}, cc(0xCC), {"writeLine c 6 ipmiset 0 0"}},
        {"fault LED", {0x33, 2, 0x80}, ok({0x33, 2, 0}), {log, on}},
        {"get, empty", {}, cc(0xC7)},
        {"get, trailing", {0x05, 0x33}, ok({5, 1, 2, 1}), {dir, value}},
        {"get 6", {6}, ok({6, 1, 255, 255}), {c6 + "direction", c6 + "value"}},
    };
    auto set = [](Request in, auto& g) { return setGpio(in, g, g, g, "c"); };
    auto get = [](Request in, auto& g) { return getGpio(in, g, "c"); };
    check(cases, set, line5, get);
    // The entry is written before the bus call that fails.
    FakeGpio failing;
    failing.answers = {{"setAsserted", "throw"}};
    EXPECT_THROW(set(Bytes{0x33, 0x01, 0x01}, failing), BusFailure);
    EXPECT_EQ(failing.calls, (Strings{log, on}));
    line5.answers = {{dir, "3"}, {value, "2"}};
    EXPECT_EQ(get(Bytes{5}, line5), ok({5, 1, 0xFF, 0xFF}));
    line5.answers = {{dir, "1"}, {value, "0"}};
    EXPECT_EQ(get(Bytes{5}, line5), ok({5, 1, 1, 0}));
}

} // namespace kestrel::test::gpiocmd_cases
