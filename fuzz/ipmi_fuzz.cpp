// Requests to every command the library registers, and to the handlers it
// exports without registering, through the host's dispatcher as ipmid
// sends them.  The request bytes sit in a buffer of exactly their size, so
// a handler reading past the request is caught.
//
// Input: a selector byte (a registered command, an unregistered handler,
// or with 0xFF any NetFn and command from the next two bytes), then the
// request.  Built with -DMISC_ONLY the selector picks a Misc subcommand.
//
// Nothing leaves the process: the shell, and the sleeps of the library's
// worker threads, are replaced below; the bus and the board's fixed paths
// are the board sandbox's.
#include "commands.hpp"
#include "fuzz_input.hpp"
#include "guard.hpp"
#include "host.hpp"

#include <dlfcn.h>
#include <ipmid/api.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <sdbusplus/asio/connection.hpp>
#include <string>
#include <vector>

extern "C" {

// The library's commands run shell commands through system(): none runs
// here, each reads as exiting 0.
int system(const char*)
{
    return 0;
}

// The library's worker threads (speaker beeps, the delayed shutdown) sleep
// between steps; here they do not.  Everyone else sleeps as asked.
namespace
{
bool fromLibrary(void* caller)
{
    Dl_info info{};
    return ::dladdr(caller, &info) != 0 && info.dli_fname != nullptr &&
           std::strstr(info.dli_fname, "libkestrelipmi") != nullptr;
}
} // namespace

int usleep(useconds_t us)
{
    if (fromLibrary(__builtin_return_address(0)))
    {
        return 0;
    }
    timespec t{static_cast<time_t>(us / 1000000),
               static_cast<long>(us % 1000000) * 1000};
    return static_cast<int>(::syscall(SYS_nanosleep, &t, nullptr));
}

int nanosleep(const timespec* req, timespec* rem)
{
    if (fromLibrary(__builtin_return_address(0)))
    {
        return 0;
    }
    return static_cast<int>(::syscall(SYS_nanosleep, req, rem));
}

} // extern "C"

namespace
{

// No command of the library uses this (OEM) NetFn.
constexpr uint8_t unregisteredNetFn = 0x3C;

struct Target
{
    std::vector<unsigned> commands;     // (netFn << 8) | cmd, registered
    std::vector<unsigned> unregistered; // the same, registered here
    // The host's connection to the (sandbox's) system bus, as ipmid gives
    // its handlers.
    boost::asio::io_context io;
    std::shared_ptr<sdbusplus::asio::connection> bus =
        std::make_shared<sdbusplus::asio::connection>(io);
};

Target& target()
{
    static Target t;
    static const bool loaded = [] {
        Target& out = t;
        if (ipmi::host::loadProviders(KESTREL_PROVIDER_DIR).size() != 1)
        {
            std::abort();
        }
        for (const auto& [key, reg] : ipmi::host::registrations())
        {
            out.commands.push_back(key);
        }
        if (out.commands.empty())
        {
            std::abort();
        }
        // The handlers no constructor registers go in at commands of a
        // NetFn of their own, to reach them as ipmid would.
        void* lib = ::dlopen(KESTREL_PROVIDER_DIR "/libkestrelipmi.so",
                             RTLD_NOW | RTLD_NOLOAD);
        uint8_t cmd = 0;
        for (const char* name : {"ipmiGarp", "ipmiGetAM5SpecCPU",
                                 "ipmiPiromCmd", "ipmiSetAM5SpecCPU"})
        {
            auto fn = reinterpret_cast<ipmid_callback_t>(::dlsym(lib, name));
            if (fn == nullptr)
            {
                std::abort();
            }
            ipmi_register_callback(unregisteredNetFn, cmd, nullptr, fn,
                                   PRIVILEGE_ADMIN);
            out.unregistered.push_back((unsigned(unregisteredNetFn) << 8) |
                                       cmd++);
        }
        return true;
    }();
    static_cast<void>(loaded);
    return t;
}

void dispatch(unsigned netFn, unsigned cmd, const std::vector<uint8_t>& data)
{
    Target& t = target();
    ipmi::host::execute(t.io, static_cast<ipmi::NetFn>(netFn),
                        static_cast<ipmi::Cmd>(cmd), data, t.bus);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    kestrel::fuzz::requireSandbox();
    target();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size)
{
    kestrel::fuzz::Input in(bytes, size);
    uint8_t selector = in.byte();
#ifdef MISC_ONLY
    // The subcommands, and now and then any other subcommand byte.
    using namespace kestrel::cmd;
    constexpr uint8_t known[] = {miscJedecId, miscWakeOnLan};
    std::vector<uint8_t> request{selector < 240 ? known[selector % 2]
                                                : in.byte()};
    std::vector<uint8_t> rest = in.remaining();
    request.insert(request.end(), rest.begin(), rest.end());
    request.shrink_to_fit();
    dispatch(netFnKestrel, misc, request);
#else
    if (selector == 0xFF)
    {
        unsigned netFn = in.byte();
        unsigned cmd = in.byte();
        dispatch(netFn, cmd, in.remaining());
        return 0;
    }
    // The registered commands first, then the unregistered handlers.
    const Target& t = target();
    std::size_t pick = selector % (t.commands.size() + t.unregistered.size());
    unsigned key = pick < t.commands.size()
                       ? t.commands[pick]
                       : t.unregistered[pick - t.commands.size()];
    dispatch(key >> 8, key & 0xFF, in.remaining());
#endif
    return 0;
}
