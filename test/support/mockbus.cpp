#include "mockbus.hpp"

#include "sandbox.hpp"

#include <systemd/sd-bus.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace kestrel::test::mockbus
{

namespace
{

constexpr const char* mockIface = "org.freedesktop.DBus.Mock";

using Message =
    std::unique_ptr<sd_bus_message, sd_bus_message* (*)(sd_bus_message*)>;

void check(int r, const char* what)
{
    if (r < 0)
    {
        throw Error(std::string(what) + ": " + std::strerror(-r));
    }
}

// A call of the Mock interface with string arguments.
Message newCall(const Service& service, const char* member,
                std::initializer_list<std::string_view> args)
{
    sd_bus_message* m = nullptr;
    check(sd_bus_message_new_method_call(bus(), &m, service.name,
                                         service.mainPath, mockIface, member),
          "sd_bus_message_new_method_call");
    Message msg{m, sd_bus_message_unref};
    for (std::string_view a : args)
    {
        check(sd_bus_message_append_basic(m, 's', std::string(a).c_str()),
              "append argument");
    }
    return msg;
}

Message call(const Message& request)
{
    sd_bus_error err = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call(bus(), request.get(), 10'000'000, &err, &reply);
    if (r < 0)
    {
        std::string text =
            (err.name != nullptr ? std::string(err.name) + ": " : "") +
            sd_bus_message_get_member(request.get()) + " on " +
            sd_bus_message_get_path(request.get()) + ": " +
            (err.message != nullptr ? err.message : std::strerror(-r));
        sd_bus_error_free(&err);
        throw Error(text);
    }
    return {reply, sd_bus_message_unref};
}

// A script of sim/lib/sandbox-lib.sh on the mock's key ($1) and params ($2).
void runShellLib(const std::string& script, const Service& service,
                 const std::string& params = {})
{
    RunResult r =
        run({"bash", "-c", ". \"$SB_DIR/lib/sandbox-lib.sh\" && " + script,
             "bash", service.key, params});
    if (r.status != 0)
    {
        throw Error(script + " " + service.key + " failed (status " +
                    std::to_string(r.status) + "): " + r.err);
    }
}

} // namespace

void callMock(const Service& service, const char* member,
              std::initializer_list<std::string_view> args)
{
    call(newCall(service, member, args));
}

sd_bus* bus()
{
    static sd_bus* connection = nullptr;
    if (connection == nullptr)
    {
        if (!inSandbox())
        {
            throw Error("the mocks exist only inside the board sandbox "
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
    Message reply = call(newCall(service, "GetAllCallsText", {}));
    sd_bus_message* m = reply.get();
    std::vector<Call> out;
    check(sd_bus_message_enter_container(m, 'a', "(tosas)"), "read calls");
    for (int r; (r = sd_bus_message_enter_container(m, 'r', "tosas")) != 0;)
    {
        check(r, "read call");
        Call& c = out.emplace_back();
        const char* path = nullptr;
        const char* method = nullptr;
        char** args = nullptr;
        check(sd_bus_message_read(m, "tos", &c.seq, &path, &method),
              "read call");
        check(sd_bus_message_read_strv(m, &args), "read call");
        c.path = path;
        c.method = method;
        for (char** p = args; p != nullptr && *p != nullptr; ++p)
        {
            c.args.emplace_back(*p);
            std::free(*p);
        }
        std::free(args);
        check(sd_bus_message_exit_container(m), "read call");
    }
    return out;
}

std::vector<Call> calls(const Service& service, std::string_view method)
{
    std::vector<Call> out = allCalls(service);
    std::erase_if(out, [method](const Call& c) { return c.method != method; });
    return out;
}

std::string getProperty(const Service& service, const std::string& path,
                        const std::string& iface, const std::string& prop)
{
    Message reply =
        call(newCall(service, "GetPropertyText", {path, iface, prop}));
    const char* s = nullptr;
    check(sd_bus_message_read_basic(reply.get(), 's', &s), "read string");
    return s;
}

void emitSignal(const Service& service, const std::string& path,
                const std::string& iface, const std::string& name,
                const std::vector<Value>& args)
{
    Message m = newCall(service, "EmitSignalText", {path, iface, name});
    for (auto field : {&Value::sig, &Value::text})
    {
        std::vector<char*> strv;
        for (const auto& a : args)
        {
            strv.push_back(const_cast<char*>((a.*field).c_str()));
        }
        strv.push_back(nullptr);
        check(sd_bus_message_append_strv(m.get(), strv.data()),
              "append strings");
    }
    call(m);
}

void stopMock(const Service& service)
{
    runShellLib("sb_stop_mock \"$1\"", service);
}

void startMock(const Service& service, const std::string& paramsJson)
{
    runShellLib("sb_start_mock \"$1\" ${2:+\"$2\"} && sb_wait_mock \"$1\"",
                service, paramsJson);
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
        try
        {
            reset(s);
        }
        catch (const Error&) // stopped by an earlier test
        {
            startMock(s);
        }
    }
}

} // namespace kestrel::test::mockbus
