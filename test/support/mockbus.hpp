#pragma once

// The test side of the sandbox's peer-service mocks (sim/mocks, started by
// `sim/sandbox --mocks "KEY..."`), over one sd-bus connection per process
// (main thread only); failures throw mockbus::Error.  Values read back are
// "type:value" strings: "b:true", "as:[a,b]", "a{sv}:{k=s:v}"; a variant in
// a container keeps its type, and a Properties.Set value shows the type it
// was sent with.

#include <bit>
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

/** A mock: its key in sim/mocks, bus name, and the object with its Mock
 *  control interface. */
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

struct Error : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

/** The sandbox's bus; throws outside it, so no test reaches the host's. */
sd_bus* bus();

/** Calls MEMBER of the Mock interface on the mock's main object with string
 *  arguments (the mock converts them from text). */
void callMock(const Service& service, const char* member,
              std::initializer_list<std::string_view> args = {});

/** One recorded call, in the order the mock received them. */
struct Call
{
    uint64_t seq = 0;
    std::string path;
    std::string method;
    std::vector<std::string> args; // "type:value" each
};

void PrintTo(const Call& call, std::ostream* os);

/** The calls on any of its objects since clearCalls() (Properties.Set
 *  included, Get and GetAll not), all or those of one method. */
std::vector<Call> allCalls(const Service& service);
std::vector<Call> calls(const Service& service, std::string_view method);
inline void clearCalls(const Service& service)
{
    callMock(service, "ClearAllCalls");
}

/** Back to the initial objects, properties and methods, with no calls (Reset
 *  keeps the main object's own log). */
inline void reset(const Service& service)
{
    callMock(service, "Reset");
    clearCalls(service);
}

/** A value to send: signature and text; basic types, and arrays of them as
 *  "[a,b]" (no commas in elements). */
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
    // By size: y (any 8-bit), n/q, i/u, x/t; b for bool.
    template <std::integral T>
    Value(T v) :
        sig(1,
            std::is_same_v<T, bool>
                ? 'b'
                : (std::is_signed_v<T> ? "ynix"
                                       : "yqut")[std::countr_zero(sizeof(T))]),
        text(std::is_same_v<T, bool> ? (v ? "true" : "false")
                                     : std::to_string(v))
    {
    }
};

/** Until reset(), method NAME answers errorName; the call is recorded. */
inline void failMethod(const Service& service, const std::string& path,
                       const std::string& iface, const std::string& name,
                       const std::string& inSig, const std::string& outSig,
                       const std::string& errorName, const std::string& message)
{
    callMock(service, "FailMethod",
             {path, iface, name, inSig, outSig, errorName, message});
}

/** Until reset(), Properties.Set of this one property fails. */
inline void failSet(const Service& service, const std::string& path,
                    const std::string& property, const std::string& errorName,
                    const std::string& message)
{
    callMock(service, "FailSet", {path, property, errorName, message});
}

/** Stores a property's value unchecked (of the wrong type, too), emitting
 *  PropertiesChanged. */
inline void updateProperty(const Service& service, const std::string& path,
                           const std::string& iface, const std::string& prop,
                           const Value& value)
{
    callMock(service, "UpdatePropertyText",
             {path, iface, prop, value.sig, value.text});
}
inline void updateProperty(const Service& service, const std::string& path,
                           const std::string& iface, const std::string& prop,
                           std::string_view sig, std::string_view value)
{
    updateProperty(service, path, iface, prop, Value(sig, value));
}

/** The property's value as "type:value", read with Properties.Get. */
std::string getProperty(const Service& service, const std::string& path,
                        const std::string& iface, const std::string& prop);

/** Emits signal IFACE.NAME from PATH, changing nothing in the mock. */
void emitSignal(const Service& service, const std::string& path,
                const std::string& iface, const std::string& name,
                const std::vector<Value>& args);

/** Emits PropertiesChanged with this value, leaving the stored one. */
inline void emitPropertiesChanged(const Service& service,
                                  const std::string& path,
                                  const std::string& iface,
                                  const std::string& prop, const Value& value)
{
    callMock(service, "EmitPropertiesChangedText",
             {path, iface, prop, value.sig, value.text});
}

/** Stops the mock and waits until its name has left the bus; starts it
 *  (parameters as JSON, else SB_PARAMS_<key>) and waits until it answers. */
void stopMock(const Service& service);
void startMock(const Service& service, const std::string& paramsJson = {});

/** gtest fixture base: skips outside the sandbox, and before each test
 *  resets the listed mocks, starting any an earlier test stopped. */
class MockTest : public ::testing::Test
{
  protected:
    explicit MockTest(std::initializer_list<Service> services);
    void SetUp() override;

    std::vector<Service> services;
};

} // namespace kestrel::test::mockbus
