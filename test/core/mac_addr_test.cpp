// Set and Get MAC address and Get MAC info against a fake board EEPROM.
#include "fakes.hpp"
#include "mac_addr.hpp"

namespace kestrel::test::mac_addr_cases
{

using namespace mac_addr;

// Not the board's offsets, so a core that ignores its parameter fails.
const uint16_t offsets[2] = {0x1000, 0x2000};

const Bytes macA{0x02, 0x11, 0x22, 0x33, 0x44, 0x56};
const Bytes macB{0x0A, 0xBB, 0xCC, 0xDD, 0xEE, 0x10};
// What the slots hold: the address, then the checksum.
const std::string slotA = "1000:021122334456fe", slotB = "2000:0abbccddee1094";

struct FakeFacts : MacFacts, Recorder
{
    SlotFacts types() override
    {
        return {0x10, 0x11};
    }
    SlotFacts channels() override
    {
        return {0x20, 0x21};
    }
};

TEST(MacAddr, SetGetAndInfo)
{
    auto set = [](Request in, auto& e) { return setMacAddr(in, e, offsets); };
    auto get = [](Request in, auto& e) { return getMacAddr(in, e, offsets); };
    const Bytes ab = cat(macA, macB), both = cat({0x02}, ab);
    // Wrong checksums on purpose: Get does not check them.
    FakeEeprom eeprom;
    eeprom.put(offsets[0], cat(macA, {0x00}));
    eeprom.put(offsets[1], cat(macB, {0x00}));
    const Case cases[] = {
        {"empty", {}, cc(0xC7)},
        {"slot 0, five bytes", {0x00, 1, 2, 3, 4, 5}, cc(0xC7)},
        {"both, one MAC", cat({0x02}, macA), cc(0xC7)},
        {"slot 0, trailing", cat({0x00}, ab), ok(), {slotA}},
        {"slot 1", cat({0x01}, macB), ok(), {slotB}},
        {"both", both, ok(), {slotA, slotB}},
        {"mask: slot 0", cat({0x81}, macA), ok(), {slotA}},
        {"mask: none", {0x80}, ok()},
        {"unknown selector", {0x05}, ok()},
        {"get, empty", {}, cc(0xC7)},
        {"get slot 1", {0x01}, ok(macB)},
        {"get both", {0x02}, ok(ab)},
        {"get, mask both, trailing", {0x83, 0x00}, ok(ab)},
        {"get, mask none", {0x80}, ok()},
    };
    check(cases, set, eeprom, get);
    eeprom.failAt = offsets[1];
    const Case failed[] = {{"second slot fails", both, cc(0xC1), {slotA}}};
    check(failed, set, eeprom);
    eeprom.failAt = offsets[0];
    EXPECT_EQ(get(Bytes{0x02}, eeprom), ok(cat(Bytes(6, 0x00), macB)));

    const Case info[] = {
        {"empty", {}, cc(0xC7)},
        {"types", {0x00}, ok({0x02, 0x10, 0x11})},
        {"channels, trailing", {0x01, 0x07}, ok({0x02, 0x20, 0x21})},
        {"past the last", {0x02}, cc(0xC1)},
    };
    check<FakeFacts>(info, getMacInfo);
}

} // namespace kestrel::test::mac_addr_cases
