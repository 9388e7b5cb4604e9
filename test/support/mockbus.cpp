#include "mockbus.hpp"

#include "sandbox.hpp"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <utility>

namespace kestrel::test::mockbus
{

namespace
{

constexpr const char* mockIface = "org.freedesktop.DBus.Mock";
constexpr const char* propsIface = "org.freedesktop.DBus.Properties";
constexpr uint64_t callTimeoutUsec = 10'000'000;

[[noreturn]] void fail(const std::string& what, int r)
{
    throw Error({}, what + ": " + std::strerror(-r));
}

void check(int r, const char* what)
{
    if (r < 0)
    {
        fail(what, r);
    }
}

class Message
{
  public:
    Message() = default;
    explicit Message(sd_bus_message* m) : msg(m)
    {
    }
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
    Message(Message&& other) noexcept : msg(std::exchange(other.msg, nullptr))
    {
    }
    Message& operator=(Message&& other) noexcept
    {
        std::swap(msg, other.msg);
        return *this;
    }
    ~Message()
    {
        sd_bus_message_unref(msg);
    }
    sd_bus_message* get() const
    {
        return msg;
    }
    sd_bus_message** out()
    {
        return &msg;
    }

  private:
    sd_bus_message* msg = nullptr;
};

Message newCall(const std::string& dest, const std::string& path,
                const char* iface, const char* member)
{
    Message m;
    check(sd_bus_message_new_method_call(bus(), m.out(), dest.c_str(),
                                         path.c_str(), iface, member),
          "sd_bus_message_new_method_call");
    return m;
}

Message call(Message& request)
{
    sd_bus_error err = SD_BUS_ERROR_NULL;
    Message reply;
    int r =
        sd_bus_call(bus(), request.get(), callTimeoutUsec, &err, reply.out());
    if (r < 0)
    {
        std::string name = err.name != nullptr ? err.name : "";
        std::string text =
            err.message != nullptr ? err.message : std::strerror(-r);
        sd_bus_error_free(&err);
        const char* member = sd_bus_message_get_member(request.get());
        throw Error(name, std::string(member != nullptr ? member : "call") +
                              " on " + sd_bus_message_get_path(request.get()) +
                              ": " + text);
    }
    return reply;
}

// --- Appending values --------------------------------------------------------

template <typename T>
T parseNumber(std::string_view text, const std::string& sig)
{
    T value{};
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty())
    {
        throw std::invalid_argument("not a value of type " + sig + ": \"" +
                                    std::string(text) + "\"");
    }
    return value;
}

template <typename T>
int appendNumber(sd_bus_message* m, char type, std::string_view text,
                 const std::string& sig)
{
    T value = parseNumber<T>(text, sig);
    return sd_bus_message_append_basic(m, type, &value);
}

void appendBasic(sd_bus_message* m, char type, std::string_view text)
{
    const std::string sig(1, type);
    int r = 0;
    switch (type)
    {
        case 'b':
        {
            int v = 0;
            if (text == "true" || text == "1")
            {
                v = 1;
            }
            else if (text != "false" && text != "0")
            {
                throw std::invalid_argument("not a boolean: \"" +
                                            std::string(text) + "\"");
            }
            r = sd_bus_message_append_basic(m, 'b', &v);
            break;
        }
        case 'y':
            r = appendNumber<uint8_t>(m, type, text, sig);
            break;
        case 'n':
            r = appendNumber<int16_t>(m, type, text, sig);
            break;
        case 'q':
            r = appendNumber<uint16_t>(m, type, text, sig);
            break;
        case 'i':
            r = appendNumber<int32_t>(m, type, text, sig);
            break;
        case 'u':
            r = appendNumber<uint32_t>(m, type, text, sig);
            break;
        case 'x':
            r = appendNumber<int64_t>(m, type, text, sig);
            break;
        case 't':
            r = appendNumber<uint64_t>(m, type, text, sig);
            break;
        case 'd':
            r = appendNumber<double>(m, type, text, sig);
            break;
        case 's':
        case 'o':
        case 'g':
        {
            std::string s(text);
            r = sd_bus_message_append_basic(m, type, s.c_str());
            break;
        }
        default:
            throw std::invalid_argument("unsupported D-Bus type " + sig);
    }
    if (r < 0)
    {
        fail("append a value of type " + sig + " (\"" + std::string(text) +
                 "\")",
             r);
    }
}

bool isBasic(char c)
{
    return std::string_view("bynqiuxtdsog").find(c) != std::string_view::npos;
}

void appendValue(sd_bus_message* m, const Value& value)
{
    const std::string& sig = value.sig;
    if (sig.size() == 1 && isBasic(sig[0]))
    {
        appendBasic(m, sig[0], value.text);
        return;
    }
    if (sig.size() == 2 && sig[0] == 'a' && isBasic(sig[1]))
    {
        std::string_view text = value.text;
        if (text.size() < 2 || text.front() != '[' || text.back() != ']')
        {
            throw std::invalid_argument("an array value is written [a,b]: \"" +
                                        value.text + "\"");
        }
        text = text.substr(1, text.size() - 2);
        check(sd_bus_message_open_container(m, 'a', sig.c_str() + 1),
              "open array");
        while (!text.empty())
        {
            auto comma = text.find(',');
            appendBasic(m, sig[1], text.substr(0, comma));
            text = comma == std::string_view::npos ? std::string_view()
                                                   : text.substr(comma + 1);
        }
        check(sd_bus_message_close_container(m), "close array");
        return;
    }
    throw std::invalid_argument("unsupported D-Bus signature \"" + sig + "\"");
}

void appendVariant(sd_bus_message* m, const Value& value)
{
    check(sd_bus_message_open_container(m, 'v', value.sig.c_str()),
          "open variant");
    appendValue(m, value);
    check(sd_bus_message_close_container(m), "close variant");
}

void appendString(sd_bus_message* m, const std::string& s)
{
    check(sd_bus_message_append_basic(m, 's', s.c_str()), "append string");
}

// --- Rendering values
// ----------------------------------------------------------

template <typename T>
std::string readNumber(sd_bus_message* m, char type)
{
    T v{};
    check(sd_bus_message_read_basic(m, type, &v), "read number");
    if constexpr (std::is_same_v<T, double>)
    {
        char buf[64];
        auto res = std::to_chars(buf, buf + sizeof buf, v);
        return std::string(buf, res.ptr);
    }
    else
    {
        return std::to_string(v);
    }
}

std::string renderNext(sd_bus_message* m);

std::string renderContainer(sd_bus_message* m, char type, const char* contents,
                            char open, char close)
{
    check(sd_bus_message_enter_container(m, type, contents), "enter container");
    std::string out(1, open);
    bool first = true;
    for (;;)
    {
        char t = 0;
        const char* c = nullptr;
        int r = sd_bus_message_peek_type(m, &t, &c);
        check(r, "peek");
        if (r == 0)
        {
            break;
        }
        if (!first)
        {
            out += ',';
        }
        first = false;
        out += renderNext(m);
    }
    check(sd_bus_message_exit_container(m), "exit container");
    return out + close;
}

// The next complete value, without its type (but a variant shows the type of
// what it holds).
std::string renderNext(sd_bus_message* m)
{
    char type = 0;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(m, &type, &contents);
    check(r, "peek");
    if (r == 0)
    {
        throw Error({}, "message ends before the expected value");
    }
    switch (type)
    {
        case 'b':
        {
            int v = 0;
            check(sd_bus_message_read_basic(m, 'b', &v), "read boolean");
            return v != 0 ? "true" : "false";
        }
        case 'y':
        {
            uint8_t v = 0;
            check(sd_bus_message_read_basic(m, 'y', &v), "read byte");
            return std::to_string(v);
        }
        case 'n':
            return readNumber<int16_t>(m, type);
        case 'q':
            return readNumber<uint16_t>(m, type);
        case 'i':
            return readNumber<int32_t>(m, type);
        case 'u':
            return readNumber<uint32_t>(m, type);
        case 'x':
            return readNumber<int64_t>(m, type);
        case 't':
            return readNumber<uint64_t>(m, type);
        case 'd':
            return readNumber<double>(m, type);
        case 'h':
            return readNumber<int>(m, type);
        case 's':
        case 'o':
        case 'g':
        {
            const char* s = nullptr;
            check(sd_bus_message_read_basic(m, type, &s), "read string");
            return s;
        }
        case 'v':
        {
            std::string inner = contents;
            check(sd_bus_message_enter_container(m, 'v', contents),
                  "enter variant");
            std::string out = inner + ":" + renderNext(m);
            check(sd_bus_message_exit_container(m), "exit variant");
            return out;
        }
        case 'a':
        {
            bool dict = contents != nullptr && contents[0] == '{';
            return renderContainer(m, 'a', contents, dict ? '{' : '[',
                                   dict ? '}' : ']');
        }
        case 'r':
            return renderContainer(m, 'r', contents, '(', ')');
        case 'e':
        {
            check(sd_bus_message_enter_container(m, 'e', contents),
                  "enter dict entry");
            std::string key = renderNext(m);
            std::string value = renderNext(m);
            check(sd_bus_message_exit_container(m), "exit dict entry");
            return key + "=" + value;
        }
        default:
            throw Error({}, std::string("cannot show D-Bus type ") + type);
    }
}

// A Python string literal holding s, for code run in a mock.
std::string pyString(const std::string& s)
{
    std::string out = "'";
    for (unsigned char c : s)
    {
        switch (c)
        {
            case '\\':
                out += "\\\\";
                break;
            case '\'':
                out += "\\'";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                if (c < 0x20 || c == 0x7f)
                {
                    constexpr const char* hex = "0123456789abcdef";
                    out += "\\x";
                    out += hex[c >> 4];
                    out += hex[c & 0xf];
                }
                else
                {
                    out += static_cast<char>(c); // UTF-8 passes through
                }
        }
    }
    return out + "'";
}

std::string raiseCode(const std::string& errorName, const std::string& message)
{
    return "raise dbus.exceptions.DBusException(" + pyString(message) +
           ", name=" + pyString(errorName) + ")";
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

const Service& service(std::string_view key)
{
    for (const auto& s : allServices())
    {
        if (key == s.key)
        {
            return s;
        }
    }
    throw std::invalid_argument("no mock with key " + std::string(key));
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
    Message req =
        newCall(service.name, service.mainPath, mockIface, "GetAllCalls");
    Message reply = call(req);
    sd_bus_message* m = reply.get();
    std::vector<Call> out;
    check(sd_bus_message_enter_container(m, 'a', "(tosav)"), "read calls");
    for (;;)
    {
        int r = sd_bus_message_enter_container(m, 'r', "tosav");
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
        check(sd_bus_message_enter_container(m, 'a', "v"), "read arguments");
        for (;;)
        {
            r = sd_bus_message_peek_type(m, nullptr, nullptr);
            check(r, "peek");
            if (r == 0)
            {
                break;
            }
            c.args.push_back(renderNext(m));
        }
        check(sd_bus_message_exit_container(m), "read arguments");
        check(sd_bus_message_exit_container(m), "read call");
        out.push_back(std::move(c));
    }
    check(sd_bus_message_exit_container(m), "read calls");
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
    Message req =
        newCall(service.name, service.mainPath, mockIface, "ClearAllCalls");
    call(req);
}

void reset(const Service& service)
{
    Message req = newCall(service.name, service.mainPath, mockIface, "Reset");
    call(req);
    // Reset keeps the main object's own log.
    clearCalls(service);
}

Value::Value(std::string_view sig, std::string_view text) : sig(sig), text(text)
{
}
Value::Value(bool v) : sig("b"), text(v ? "true" : "false")
{
}
Value::Value(uint8_t v) : sig("y"), text(std::to_string(v))
{
}
Value::Value(int16_t v) : sig("n"), text(std::to_string(v))
{
}
Value::Value(uint16_t v) : sig("q"), text(std::to_string(v))
{
}
Value::Value(int32_t v) : sig("i"), text(std::to_string(v))
{
}
Value::Value(uint32_t v) : sig("u"), text(std::to_string(v))
{
}
Value::Value(int64_t v) : sig("x"), text(std::to_string(v))
{
}
Value::Value(uint64_t v) : sig("t"), text(std::to_string(v))
{
}
Value::Value(double v) : sig("d")
{
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    text.assign(buf, res.ptr);
}
Value::Value(const char* v) : sig("s"), text(v)
{
}
Value::Value(const std::string& v) : sig("s"), text(v)
{
}

void addMethod(const Service& service, const std::string& path,
               const std::string& iface, const std::string& name,
               const std::string& inSig, const std::string& outSig,
               const std::string& pythonCode)
{
    Message req = newCall(service.name, path, mockIface, "AddMethod");
    check(sd_bus_message_append(req.get(), "sssss", iface.c_str(), name.c_str(),
                                inSig.c_str(), outSig.c_str(),
                                pythonCode.c_str()),
          "append AddMethod arguments");
    call(req);
}

void failMethod(const Service& service, const std::string& path,
                const std::string& iface, const std::string& name,
                const std::string& inSig, const std::string& outSig,
                const std::string& errorName, const std::string& message)
{
    addMethod(service, path, iface, name, inSig, outSig,
              raiseCode(errorName, message));
}

void failSet(const Service& service, const std::string& path,
             const std::string& property, const std::string& errorName,
             const std::string& message)
{
    addMethod(service, path, propsIface, "Set", "ssv", "",
              "if args[1] == " + pyString(property) + ":\n    " +
                  raiseCode(errorName, message) + "\ntyped_set(self, *args)\n");
}

void updateProperty(const Service& service, const std::string& path,
                    const std::string& iface, const std::string& prop,
                    const Value& value)
{
    Message req = newCall(service.name, path, mockIface, "UpdateProperties");
    sd_bus_message* m = req.get();
    appendString(m, iface);
    check(sd_bus_message_open_container(m, 'a', "{sv}"), "open dict");
    check(sd_bus_message_open_container(m, 'e', "sv"), "open dict entry");
    appendString(m, prop);
    appendVariant(m, value);
    check(sd_bus_message_close_container(m), "close dict entry");
    check(sd_bus_message_close_container(m), "close dict");
    call(req);
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
    Message req = newCall(service.name, path, propsIface, "Get");
    check(sd_bus_message_append(req.get(), "ss", iface.c_str(), prop.c_str()),
          "append Get arguments");
    Message reply = call(req);
    return renderNext(reply.get());
}

void emitSignal(const Service& service, const std::string& path,
                const std::string& iface, const std::string& name,
                const std::vector<Value>& args)
{
    std::string signature;
    for (const auto& a : args)
    {
        signature += a.sig;
    }
    Message req = newCall(service.name, path, mockIface, "EmitSignal");
    sd_bus_message* m = req.get();
    appendString(m, iface);
    appendString(m, name);
    appendString(m, signature);
    check(sd_bus_message_open_container(m, 'a', "v"), "open arguments");
    for (const auto& a : args)
    {
        appendVariant(m, a);
    }
    check(sd_bus_message_close_container(m), "close arguments");
    call(req);
}

void emitPropertiesChanged(const Service& service, const std::string& path,
                           const std::string& iface, const std::string& prop,
                           const Value& value)
{
    Message req = newCall(service.name, path, mockIface, "EmitSignal");
    sd_bus_message* m = req.get();
    appendString(m, propsIface);
    appendString(m, "PropertiesChanged");
    appendString(m, "sa{sv}as");
    check(sd_bus_message_open_container(m, 'a', "v"), "open arguments");
    appendVariant(m, Value(iface));
    check(sd_bus_message_open_container(m, 'v', "a{sv}"), "open variant");
    check(sd_bus_message_open_container(m, 'a', "{sv}"), "open dict");
    check(sd_bus_message_open_container(m, 'e', "sv"), "open dict entry");
    appendString(m, prop);
    appendVariant(m, value);
    check(sd_bus_message_close_container(m), "close dict entry");
    check(sd_bus_message_close_container(m), "close dict");
    check(sd_bus_message_close_container(m), "close variant");
    appendVariant(m, Value("as", "[]"));
    check(sd_bus_message_close_container(m), "close arguments");
    call(req);
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
    appendString(req.get(), busName);
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
