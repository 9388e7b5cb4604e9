#pragma once

// Test-side access to the peer-service mocks of the board sandbox
// (sim/mocks, started with `sim/sandbox --mocks "KEY..."`): read back the
// calls a mock received, reset it between tests, make its methods fail,
// store values of the wrong type, emit signals, and stop or restart it.
//
// Everything goes over plain sd-bus to the sandbox's private system bus,
// through one connection per process (not thread-safe: call from the test's
// main thread).  Failures throw mockbus::Error.
//
// Values are shown as "type:value" strings: "s:replace", "b:true", "y:3",
// "o:/xyz/openbmc_project/network/eth0", "as:[a,b]", "a{sv}:{k=s:v}",
// "(si):(a,1)"; a variant inside a container keeps its type
// ("av:[s:x,b:true]").  The value of a Properties.Set call shows the type it
// was sent with ("s:xyz.openbmc_project...", not "v:...").

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

struct sd_bus;

namespace kestrel::test::mockbus
{

/** One mocked service: its key in sim/mocks, its bus name and the path of
 *  its main object (where the Mock control interface is). */
struct Service
{
    const char* key;
    const char* name;
    const char* mainPath;
};

inline constexpr Service systemd{"systemd", "org.freedesktop.systemd1",
                                 "/org/freedesktop/systemd1"};
inline constexpr Service led{"led", "xyz.openbmc_project.LED.GroupManager",
                             "/xyz/openbmc_project/led/groups"};
inline constexpr Service network{"network", "xyz.openbmc_project.Network",
                                 "/xyz/openbmc_project/network"};
inline constexpr Service stateHost{"state_host",
                                   "xyz.openbmc_project.State.Host",
                                   "/xyz/openbmc_project/state/host0"};
inline constexpr Service stateBmc{"state_bmc", "xyz.openbmc_project.State.BMC",
                                  "/xyz/openbmc_project/state/bmc0"};
inline constexpr Service stateChassis{"state_chassis",
                                      "xyz.openbmc_project.State.Chassis",
                                      "/xyz/openbmc_project/state/chassis0"};
inline constexpr Service software{"software",
                                  "xyz.openbmc_project.Software.BMC.Updater",
                                  "/xyz/openbmc_project/software"};
inline constexpr Service fanSensor{"fan_sensor",
                                   "xyz.openbmc_project.FanSensor",
                                   "/xyz/openbmc_project/sensors"};
inline constexpr Service tempSensor{"temp_sensor",
                                    "xyz.openbmc_project.HwmonTempSensor",
                                    "/xyz/openbmc_project/sensors"};

/** All of them, in the order `--mocks all` starts them. */
const std::vector<Service>& allServices();

/** A D-Bus error from a mock (or the bus), or a local failure (name empty). */
class Error : public std::runtime_error
{
  public:
    Error(std::string name, const std::string& message);
    /** The D-Bus error name, e.g. "org.freedesktop.DBus.Error.ServiceUnknown".
     */
    const std::string& name() const
    {
        return errorName;
    }

  private:
    std::string errorName;
};

/** The process's connection to the sandbox's system bus, opened on first
 *  use.  Throws when not in the sandbox, so no test reaches a host bus. */
sd_bus* bus();

/** One recorded call, in the order the mock process received it. */
struct Call
{
    uint64_t seq = 0;
    std::string path;
    std::string method;
    std::vector<std::string> args; // "type:value" each
};

void PrintTo(const Call& call, std::ostream* os);

/** Every call the mock recorded on any of its objects since the last
 *  clearCalls() (Properties.Set attempts included, Get and GetAll not). */
std::vector<Call> allCalls(const Service& service);

/** The recorded calls of one method name (on any object). */
std::vector<Call> calls(const Service& service, std::string_view method);

/** Forget the mock's recorded calls. */
void clearCalls(const Service& service);

/** Back to the template's initial state (objects, properties, methods a test
 *  replaced) with an empty call log. */
void reset(const Service& service);

/** A value to send: its D-Bus signature and text.  Basic types, and arrays
 *  of basic types written "[a,b]" (elements may not contain a comma). */
struct Value
{
    std::string sig;
    std::string text;

    Value(std::string_view sig, std::string_view text) : sig(sig), text(text)
    {
    }
    Value(const char* v) : sig("s"), text(v)
    {
    }
    Value(const std::string& v) : sig("s"), text(v)
    {
    }
    template <std::integral T>
    Value(T v) :
        sig(std::is_same_v<T, bool> ? "b" : signatureOf<T>()),
        text(std::is_same_v<T, bool> ? (v ? "true" : "false")
                                     : std::to_string(v))
    {
    }

  private:
    template <typename T>
    static const char* signatureOf()
    {
        constexpr bool s = std::is_signed_v<T>;
        switch (sizeof(T))
        {
            case 1:
                return "y";
            case 2:
                return s ? "n" : "q";
            case 4:
                return s ? "i" : "u";
            default:
                return s ? "x" : "t";
        }
    }
};

/** Make method NAME of IFACE on the mock's object PATH answer with the
 *  D-Bus error errorName and message (until reset()); the call is still
 *  recorded. */
void failMethod(const Service& service, const std::string& path,
                const std::string& iface, const std::string& name,
                const std::string& inSig, const std::string& outSig,
                const std::string& errorName, const std::string& message);

/** Make Properties.Set of one property on PATH fail with errorName; other
 *  properties keep the typed Set's behaviour. */
void failSet(const Service& service, const std::string& path,
             const std::string& property, const std::string& errorName,
             const std::string& message);

/** Store a property value without any type check (so a test can give a
 *  property the wrong type on purpose), emitting PropertiesChanged.  The
 *  property must exist. */
void updateProperty(const Service& service, const std::string& path,
                    const std::string& iface, const std::string& prop,
                    const Value& value);
void updateProperty(const Service& service, const std::string& path,
                    const std::string& iface, const std::string& prop,
                    std::string_view sig, std::string_view value);

/** The property's current value as "type:value", read with Properties.Get. */
std::string getProperty(const Service& service, const std::string& path,
                        const std::string& iface, const std::string& prop);

/** Emit signal IFACE.NAME from the mock's object PATH with these arguments,
 *  without changing anything in the mock. */
void emitSignal(const Service& service, const std::string& path,
                const std::string& iface, const std::string& name,
                const std::vector<Value>& args);

/** Emit PropertiesChanged for one property with this value, leaving the
 *  stored value as it is (to send a change the mock does not hold, or a
 *  wrongly typed one). */
void emitPropertiesChanged(const Service& service, const std::string& path,
                           const std::string& iface, const std::string& prop,
                           const Value& value);

/** Stop the mock and wait until its name has left the bus: calls to it then
 *  fail with org.freedesktop.DBus.Error.ServiceUnknown. */
void stopMock(const Service& service);
void stopMock(std::string_view key);

/** Start the mock (with template parameters as JSON, or else those of
 *  SB_PARAMS_<key>) and wait until it answers; it starts in its initial
 *  state. */
void startMock(const Service& service, const std::string& paramsJson = {});
void startMock(std::string_view key, const std::string& paramsJson = {});

/** True while some connection owns this bus name. */
bool hasOwner(const std::string& busName);
bool hasOwner(const Service& service);

/** gtest fixture base: skips outside the sandbox, and before each test
 *  resets the listed mocks, restarting any that an earlier test stopped.
 *
 *      class LedTest : public mockbus::MockTest
 *      {
 *        protected:
 *          LedTest() : MockTest({mockbus::led}) {}
 *      };
 */
class MockTest : public ::testing::Test
{
  protected:
    explicit MockTest(std::initializer_list<Service> services);
    void SetUp() override;

    std::vector<Service> services;
};

} // namespace kestrel::test::mockbus
