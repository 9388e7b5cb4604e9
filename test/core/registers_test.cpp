// Register access, the reset-event registers and the speaker.
#include "fakes.hpp"
#include "reg_value.hpp"
#include "speaker_func.hpp"
#include "uid_exrst_verify.hpp"

#include <system_error>

namespace kestrel::test::registers_cases
{

using namespace reg_value;
using namespace speaker_func;
using namespace uid_exrst_verify;

std::string word(uint32_t v)
{
    return hex(
        Bytes{uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

/** Registers holding `words` (by default A and B of the reset events), and
 *  the printed lines, in one log; writes of 0 to `stuck` do not clear it. */
struct FakeRegisters : Registers, reg_value::Log, Recorder
{
    std::map<uint32_t, uint32_t> words = {{registerA, 7}, {registerB, 2}};
    std::optional<uint32_t> stuck;
    int rc = 0;
    Saved saved;

    int read32(uint32_t address, uint32_t* value) override
    {
        calls.push_back("r " + word(address));
        *value = rc == 0 ? words[address] : *value;
        return rc;
    }
    int write32(uint32_t address, uint32_t value) override
    {
        calls.push_back("w " + word(address) + " " + word(value));
        words[address] = value == 0 && stuck == address ? 1 : value;
        return rc;
    }
    FAKE(void, setRegValue, (uint32_t at, uint32_t v), word(at), word(v));
    FAKE(void, getRegValue, (uint32_t at, uint32_t v), word(at), word(v));
};

/** Logs the register writes and the pauses (in ms); `start` throws when
 *  no thread can be started, as `busy` says. */
struct FakeSpeaker : Speaker, Worker, Recorder
{
    std::atomic<uint8_t> longBeeps{2};
    std::atomic<uint8_t> shortBeeps{5};
    bool busy = false;

    FAKE(void, write, (uint32_t value), word(value));
    FAKE(void, sleep, (uint32_t microseconds), microseconds / 1000);
    void start() override
    {
        calls.emplace_back("start");
        if (busy)
        {
            throw std::system_error(
                std::make_error_code(std::errc::device_or_resource_busy));
        }
    }
};

TEST(Registers, RegValueUidExrstVerifyAndSpeaker)
{
    auto set = [](Request in, auto& r) { return setRegValue(in, r, r); };
    auto get = [](Request in, auto& r) { return getRegValue(in, r, r); };
    const Bytes at = {0x1E, 0x6E, 0x20, 0x9C};
    const Bytes request = cat(at, {0x11, 0x22, 0x33, 0x44});
    const std::string v = "1e6e209c 11223344", a = "1e6e209c",
                      got = "getRegValue " + a + " 0000000";
    const Case cases[] = {
        {"seven bytes", Bytes(7), cc(0xC7)},
        {"trailing", cat(request, {5}), ok(), {"setRegValue " + v, "w " + v}},
        {"get, three bytes", Bytes(3), cc(0xC7)},
        {"get, trailing",
         cat(at, {7}),
         ok({0, 0, 0, 7}),
         {"r " + a, got + "7"}},
    };
    check<FakeRegisters>(cases, set, {}, get);
    FakeRegisters failing;
    failing.rc = -EIO;
    EXPECT_EQ(set(request, failing), cc(0xC0));
    // A failed read still answers four bytes, zero, and prints them.
    EXPECT_EQ(get(at, failing), (Answer{0xC0, {0, 0, 0, 0}}));
    EXPECT_EQ(failing.calls.back(), got + "0");

    auto verify = [](Request in, auto& r) {
        return uidExrstVerify(in, r, r.saved);
    };
    const std::string b = "1e6e203c";
    const Strings clear = {"r " + a, "r " + b, "w " + a + " 00000000",
                           "w " + b + " 00000000", "r " + a};
    const Case verifies[] = {
        {"empty", {}, cc(0xC7)},
        {"save and clear", {0x00}, ok(), cat(clear, {"r " + b})},
        {"flag, trailing", {0x01, 0x00}, ok({0x01}), {"r " + b}},
        {"restore, nothing saved", {0x02}, cc(0xCC)},
        {"subfunction 3", {0x03}, cc(0xCC)},
    };
    check<FakeRegisters>(verifies, verify);
    FakeRegisters r;
    r.stuck = registerA;
    const Case notCleared[] = {{"A stuck", {0x00}, cc(0xC1), clear}};
    check(notCleared, verify, r);

    r.stuck.reset();
    ASSERT_EQ(verify(Bytes{0x00}, r), ok());
    // A holds no event now: the last one saved is kept.
    r.words = {{registerA, 0}, {registerB, 0xFFFFFFFD}};
    EXPECT_EQ(verify(Bytes{0x01}, r), ok({0x00})); // all but bit 1
    ASSERT_EQ(verify(Bytes{0x00}, r), ok());
    r.calls.clear();
    EXPECT_EQ(verify(Bytes{0x02, 0xAA}, r), ok());
    EXPECT_EQ(r.calls,
              (Strings{"w " + a + " 00000007", "w " + b + " 00000002"}));

    // The calls end with the counts kept.
    const Case beeps[] = {
        {"empty", {}, ok(), {"2 5"}},
        {"trailing", {0x01, 0x01, 0x00}, ok(), {"2 5"}},
        {"four long beeps", {0x04, 0x00}, ok(), {"2 5"}},
        {"twelve short beeps", {0x00, 0x0C}, ok(), {"2 5"}},
        {"longest", {0x03, 0x0B}, ok(), {"start", "3 11"}},
        {"no thread", {0x01, 0x00}, ok(), {"start", "1 0"}},
    };
    for (const auto& c : beeps)
    {
        FakeSpeaker s;
        s.busy = c.name == std::string("no thread");
        EXPECT_EQ(setSpeakerFunc(c.request, s.longBeeps, s.shortBeeps, s),
                  c.expected);
        s.calls.push_back(std::to_string(s.longBeeps) + " " +
                          std::to_string(s.shortBeeps));
        EXPECT_EQ(s.calls, c.calls) << c.name;
    }
    // Long beeps, then short beeps.
    FakeSpeaker s;
    s.longBeeps = 1;
    s.shortBeeps = 1;
    playPattern(s.longBeeps, s.shortBeeps, s);
    const std::string tone = "write ff1aff1a", rest = "write ff115f05";
    EXPECT_EQ(s.calls, (Strings{tone, "sleep 600", rest, "sleep 300", tone,
                                "sleep 200", rest, "sleep 300"}));
}

} // namespace kestrel::test::registers_cases
