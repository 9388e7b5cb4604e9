#include "mockbus.hpp"

#include "sandbox.hpp"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace kestrel::test::mockbus
{

namespace
{

constexpr const char* mockIface = "org.freedesktop.DBus.Mock";
constexpr const char* propsIface = "org.freedesktop.DBus.Properties";
constexpr uint64_t callTimeoutUsec = 10'000'000;

using Message =
    std::unique_ptr<sd_bus_message, sd_bus_message* (*)(sd_bus_message*)>;

void check(int r, const char* what)
{
    if (r < 0)
    {
        throw Error({}, std::string(what) + ": " + std::strerror(-r));
    }
}

Message newCall(const std::string& dest, const std::string& path,
                const char* iface, const char* member)
{
    sd_bus_message* m = nullptr;
    check(sd_bus_message_new_method_call(bus(), &m, dest.c_str(), path.c_str(),
                                         iface, member),
          "sd_bus_message_new_method_call");
    return {m, sd_bus_message_unref};
}

Message call(const Message& request)
{
    sd_bus_error err = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call(bus(), request.get(), callTimeoutUsec, &err, &reply);
    if (r < 0)
    {
        std::string name = err.name != nullptr ? err.name : "";
        std::string text =
            err.message != nullptr ? err.message : std::strerror(-r);
        sd_bus_error_free(&err);
        throw Error(name,
                    std::string(sd_bus_message_get_member(request.get())) +
                        " on " + sd_bus_message_get_path(request.get()) + ": " +
                        text);
    }
    return {reply, sd_bus_message_unref};
}

// A method of the Mock interface on the mock's main object, with string
// arguments (the values travel as text; the mock converts them).
template <typename... Strings>
Message callMock(const Service& service, const char* member,
                 const Strings&... args)
{
    Message m = newCall(service.name, service.mainPath, mockIface, member);
    (check(sd_bus_message_append_basic(m.get(), 's', std::string(args).c_str()),
           "append argument"),
     ...);
    return call(m);
}

std::string readString(sd_bus_message* m)
{
    const char* s = nullptr;
    check(sd_bus_message_read_basic(m, 's', &s), "read string");
    return s;
}

std::vector<std::string> readStrings(sd_bus_message* m)
{
    char** strv = nullptr;
    check(sd_bus_message_read_strv(m, &strv), "read strings");
    std::vector<std::string> out;
    for (char** p = strv; p != nullptr && *p != nullptr; ++p)
    {
        out.emplace_back(*p);
        std::free(*p);
    }
    std::free(strv);
    return out;
}

void appendStrings(sd_bus_message* m, const std::vector<std::string>& strings)
{
    std::vector<char*> strv;
    for (const auto& s : strings)
    {
        strv.push_back(const_cast<char*>(s.c_str()));
    }
    strv.push_back(nullptr);
    check(sd_bus_message_append_strv(m, strv.data()), "append strings");
}

void runShellLib(const std::string& script,
                 const std::vector<std::string>& args)
{
    std::vector<std::string> argv{
        "bash", "-c", ". \"$SB_DIR/lib/sandbox-lib.sh\" && " + script, "bash"};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = run(argv);
    if (r.status != 0)
    {
        throw Error({}, script + " " + (args.empty() ? "" : args[0]) +
                            " failed (status " + std::to_string(r.status) +
                            "): " + r.err);
    }
}

} // namespace

Error::Error(std::string name, const std::string& message) :
    std::runtime_error(name.empty() ? message : name + ": " + message),
    errorName(std::move(name))
{
}

const std::vector<Service>& allServices()
{
    static const std::vector<Service> all{systemd,   led,       network,
                                          stateHost, stateBmc,  stateChassis,
                                          software,  fanSensor, tempSensor};
    return all;
}

sd_bus* bus()
{
    static sd_bus* connection = nullptr;
    if (connection == nullptr)
    {
        if (!inSandbox())
        {
            throw Error({}, "the mocks exist only inside the board sandbox "
                            "(run the test through sim/sandbox)");
        }
        check(sd_bus_open_system(&connection), "connect to the system bus");
    }
    return connection;
}

void PrintTo(const Call& call, std::ostream* os)
{
    *os << '#' << call.seq << ' ' << call.path << ' ' << call.method << '(';
    for (std::size_t i = 0; i < call.args.size(); ++i)
    {
        *os << (i != 0 ? ", " : "") << call.args[i];
    }
    *os << ')';
}

std::vector<Call> allCalls(const Service& service)
{
    Message reply = callMock(service, "GetAllCallsText");
    sd_bus_message* m = reply.get();
    std::vector<Call> out;
    check(sd_bus_message_enter_container(m, 'a', "(tosas)"), "read calls");
    for (;;)
    {
        int r = sd_bus_message_enter_container(m, 'r', "tosas");
        check(r, "read call");
        if (r == 0)
        {
            break;
        }
        Call c;
        const char* path = nullptr;
        const char* method = nullptr;
        check(sd_bus_message_read(m, "tos", &c.seq, &path, &method),
              "read call");
        c.path = path;
        c.method = method;
        c.args = readStrings(m);
        check(sd_bus_message_exit_container(m), "read call");
        out.push_back(std::move(c));
    }
    return out;
}

std::vector<Call> calls(const Service& service, std::string_view method)
{
    std::vector<Call> out;
    for (auto& c : allCalls(service))
    {
        if (c.method == method)
        {
            out.push_back(std::move(c));
        }
    }
    return out;
}

void clearCalls(const Service& service)
{
    callMock(service, "ClearAllCalls");
}

void reset(const Service& service)
{
    callMock(service, "Reset");
    // Reset keeps the main object's own log.
    clearCalls(service);
}

void failMethod(const Service& service, const std::string& path,
                const std::string& iface, const std::string& name,
                const std::string& inSig, const std::string& outSig,
                const std::string& errorName, const std::string& message)
{
    callMock(service, "FailMethod", path, iface, name, inSig, outSig, errorName,
             message);
}

void failSet(const Service& service, const std::string& path,
             const std::string& property, const std::string& errorName,
             const std::string& message)
{
    callMock(service, "FailSet", path, property, errorName, message);
}

void updateProperty(const Service& service, const std::string& path,
                    const std::string& iface, const std::string& prop,
                    const Value& value)
{
    callMock(service, "UpdatePropertyText", path, iface, prop, value.sig,
             value.text);
}

void updateProperty(const Service& service, const std::string& path,
                    const std::string& iface, const std::string& prop,
                    std::string_view sig, std::string_view value)
{
    updateProperty(service, path, iface, prop, Value(sig, value));
}

std::string getProperty(const Service& service, const std::string& path,
                        const std::string& iface, const std::string& prop)
{
    Message reply = callMock(service, "GetPropertyText", path, iface, prop);
    return readString(reply.get());
}

void emitSignal(const Service& service, const std::string& path,
                const std::string& iface, const std::string& name,
                const std::vector<Value>& args)
{
    std::vector<std::string> sigs;
    std::vector<std::string> texts;
    for (const auto& a : args)
    {
        sigs.push_back(a.sig);
        texts.push_back(a.text);
    }
    Message m =
        newCall(service.name, service.mainPath, mockIface, "EmitSignalText");
    for (const std::string& s : {path, iface, name})
    {
        check(sd_bus_message_append_basic(m.get(), 's', s.c_str()),
              "append argument");
    }
    appendStrings(m.get(), sigs);
    appendStrings(m.get(), texts);
    call(m);
}

void emitPropertiesChanged(const Service& service, const std::string& path,
                           const std::string& iface, const std::string& prop,
                           const Value& value)
{
    callMock(service, "EmitPropertiesChangedText", path, iface, prop, value.sig,
             value.text);
}

void stopMock(const Service& service)
{
    stopMock(service.key);
}

void stopMock(std::string_view key)
{
    runShellLib("sb_stop_mock \"$1\"", {std::string(key)});
}

void startMock(const Service& service, const std::string& paramsJson)
{
    startMock(service.key, paramsJson);
}

void startMock(std::string_view key, const std::string& paramsJson)
{
    if (paramsJson.empty())
    {
        runShellLib("sb_start_mock \"$1\" && sb_wait_mock \"$1\"",
                    {std::string(key)});
    }
    else
    {
        runShellLib("sb_start_mock \"$1\" \"$2\" && sb_wait_mock \"$1\"",
                    {std::string(key), paramsJson});
    }
}

bool hasOwner(const std::string& busName)
{
    Message req = newCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                          "org.freedesktop.DBus", "NameHasOwner");
    check(sd_bus_message_append_basic(req.get(), 's', busName.c_str()),
          "append argument");
    Message reply = call(req);
    int owned = 0;
    check(sd_bus_message_read_basic(reply.get(), 'b', &owned),
          "read NameHasOwner");
    return owned != 0;
}

bool hasOwner(const Service& service)
{
    return hasOwner(std::string(service.name));
}

MockTest::MockTest(std::initializer_list<Service> services) : services(services)
{
}

void MockTest::SetUp()
{
    if (!inSandbox())
    {
        GTEST_SKIP() << "needs the board sandbox (sim/sandbox --mocks ...)";
    }
    for (const auto& s : services)
    {
        if (hasOwner(s))
        {
            reset(s);
        }
        else
        {
            startMock(s);
        }
    }
}

} // namespace kestrel::test::mockbus
