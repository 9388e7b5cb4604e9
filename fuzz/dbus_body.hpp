// D-Bus message bodies of any type and shape, built from fuzz input on a
// connection that never reaches a bus: messages are sealed in place and
// handed to a signal handler as if they had arrived.
#pragma once

#include "fuzz_input.hpp"

#include <sys/socket.h>
#include <systemd/sd-bus.h>

#include <cstdlib>
#include <optional>
#include <sdbusplus/message.hpp>
#include <string>
#include <string_view>
#include <type_traits>

namespace kestrel::fuzz
{

/** A connection on one end of a socket pair with nothing at the other: it
 *  can make messages but never sends them anywhere. */
inline sd_bus* offlineBus()
{
    static sd_bus* bus = [] {
        sd_bus* b = nullptr;
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0 ||
            sd_bus_new(&b) < 0 || sd_bus_set_fd(b, fds[0], fds[0]) < 0 ||
            sd_bus_start(b) < 0)
        {
            std::abort();
        }
        return b;
    }();
    return bus;
}

/** Names the handlers look for, so that inputs reach past the first
 *  lookup; any other byte makes a string of the input's own. */
inline constexpr const char* vocabulary[] = {
    "SSH",
    "Functional",
    "Asserted",
    "Value",
    "CurrentHostState",
    "InterfaceName",
    "xyz.openbmc_project.State.Host.HostState.Off",
    "xyz.openbmc_project.State.Host.HostState.Running",
    "xyz.openbmc_project.Network.EthernetInterface",
    "xyz.openbmc_project.State.Decorator.OperationalStatus",
    "xyz.openbmc_project.State.Host",
    "eth0",
    "eth1",
    "usb0",
    "",
};

/** The length of the first complete type of `sig`. */
inline std::size_t typeLength(std::string_view sig)
{
    if (sig.empty())
    {
        return 0;
    }
    if (sig[0] == 'a')
    {
        return 1 + typeLength(sig.substr(1));
    }
    if (sig[0] == '(' || sig[0] == '{')
    {
        char close = sig[0] == '(' ? ')' : '}';
        std::size_t i = 1;
        while (i < sig.size() && sig[i] != close)
        {
            std::size_t n = typeLength(sig.substr(i));
            if (n == 0)
            {
                return sig.size();
            }
            i += n;
        }
        return std::min(i + 1, sig.size());
    }
    return 1;
}

inline constexpr char basicTypes[] = "ybnqiuxtdsog";

/** A type signature, containers at most `depth` deep. */
inline std::string makeType(Input& in, int depth)
{
    uint8_t b = in.byte();
    if (depth <= 0 || b < 128)
    {
        return std::string(1, basicTypes[b % (sizeof(basicTypes) - 1)]);
    }
    switch (b % 4)
    {
        case 0:
            return "v";
        case 1:
            return "a" + makeType(in, depth - 1);
        case 2:
        {
            std::string s = "(";
            for (int n = 1 + in.byte() % 3; n > 0; --n)
            {
                s += makeType(in, depth - 1);
            }
            return s + ")";
        }
        default:
            return std::string("a{") +
                   basicTypes[in.byte() % (sizeof(basicTypes) - 1)] +
                   makeType(in, depth - 1) + "}";
    }
}

inline void appendValue(sd_bus_message* m, std::string_view sig, Input& in,
                        int depth);

inline void appendBasic(sd_bus_message* m, char type, Input& in)
{
    if (type == 's' || type == 'o' || type == 'g')
    {
        // Only valid strings, paths and signatures: the library refuses
        // others, which would leave the body short of its signature.
        std::string s;
        if (type == 'o')
        {
            constexpr const char* paths[] = {
                "/", "/xyz/openbmc_project/network/eth0",
                "/xyz/openbmc_project/network/eth1", "/a_1/B"};
            s = paths[in.byte() % 4];
        }
        else if (type == 'g')
        {
            s = makeType(in, 2);
        }
        else
        {
            s = in.pick(vocabulary);
            for (char& c : s)
            {
                if (c == 0 || (static_cast<unsigned char>(c) & 0x80) != 0)
                {
                    c = '?';
                }
            }
        }
        sd_bus_message_append_basic(m, type, s.c_str());
        return;
    }
    uint64_t raw = in.number<uint64_t>();
    if (type == 'b')
    {
        int v = static_cast<int>(raw & 1);
        sd_bus_message_append_basic(m, type, &v);
        return;
    }
    if (type == 'd')
    {
        double d = static_cast<double>(static_cast<int64_t>(raw)) / 7.0;
        sd_bus_message_append_basic(m, type, &d);
        return;
    }
    // Every other basic type is an integer of its own width; the library
    // reads it from the low bytes of a 64-bit value on this little-endian
    // machine.
    sd_bus_message_append_basic(m, type, &raw);
}

inline void appendValue(sd_bus_message* m, std::string_view sig, Input& in,
                        int depth)
{
    if (sig.empty())
    {
        return;
    }
    switch (sig[0])
    {
        case 'v':
        {
            std::string inner = makeType(in, depth);
            if (sd_bus_message_open_container(m, 'v', inner.c_str()) >= 0)
            {
                appendValue(m, inner, in, depth - 1);
                sd_bus_message_close_container(m);
            }
            return;
        }
        case 'a':
        {
            std::string elem(sig.substr(1, typeLength(sig.substr(1))));
            bool dict = !elem.empty() && elem[0] == '{';
            std::string contents =
                dict ? elem.substr(1, elem.size() - 2) : elem;
            if (sd_bus_message_open_container(m, 'a', elem.c_str()) < 0)
            {
                return;
            }
            for (int n = in.byte() % 4; n > 0; --n)
            {
                if (!dict)
                {
                    appendValue(m, elem, in, depth - 1);
                    continue;
                }
                if (sd_bus_message_open_container(m, 'e', contents.c_str()) >=
                    0)
                {
                    appendBasic(m, contents[0], in);
                    appendValue(m, std::string_view(contents).substr(1), in,
                                depth - 1);
                    sd_bus_message_close_container(m);
                }
            }
            sd_bus_message_close_container(m);
            return;
        }
        case '(':
        {
            std::string contents(sig.substr(1, typeLength(sig) - 2));
            if (sd_bus_message_open_container(m, 'r', contents.c_str()) < 0)
            {
                return;
            }
            for (std::string_view rest = contents; !rest.empty();)
            {
                std::size_t n = typeLength(rest);
                appendValue(m, rest.substr(0, n), in, depth - 1);
                rest.remove_prefix(n);
            }
            sd_bus_message_close_container(m);
            return;
        }
        default:
            appendBasic(m, sig[0], in);
    }
}

/** A sealed signal whose body the input shapes.  With a first byte below
 *  192 the body has `shape`'s types (a PropertiesChanged or InterfacesAdded
 *  signature) with values of any type inside its variants; otherwise it is
 *  up to three values of any type.  Empty when the library refused to
 *  seal what was built. */
inline std::optional<sdbusplus::message_t> makeSignal(sd_bus* bus, Input& in,
                                                      std::string_view shape)
{
    sd_bus_message* m = nullptr;
    if (sd_bus_message_new_signal(bus, &m, "/xyz/openbmc_project/fuzz",
                                  "org.freedesktop.DBus.Properties",
                                  "PropertiesChanged") < 0)
    {
        std::abort();
    }
    if (in.byte() < 192)
    {
        for (std::string_view rest = shape; !rest.empty();)
        {
            std::size_t n = typeLength(rest);
            appendValue(m, rest.substr(0, n), in, 4);
            rest.remove_prefix(n);
        }
    }
    else
    {
        for (int n = in.byte() % 4; n > 0; --n)
        {
            appendValue(m, makeType(in, 3), in, 3);
        }
    }
    static uint64_t cookie = 0;
    if (sd_bus_message_seal(m, ++cookie, 0) < 0)
    {
        sd_bus_message_unref(m);
        return std::nullopt;
    }
    return sdbusplus::message_t(m, std::false_type{});
}

} // namespace kestrel::fuzz
