// kbench: the bus-side tools of scripts/bench, written against bare sd-bus so
// that what they measure is the bus and the program under test, not a
// library of ours.
//
//   kbench serve NAME...     answers every Properties.Get (u 42; the host
//                            state for CurrentHostState, true for an LED
//                            group's Asserted) and counts
//                            every Properties.Set, under each NAME; prints
//                            "ready" once the names are taken
//   kbench rtt N             reads requests ("LABEL NETFN CMD [BYTE...]")
//                            from stdin, one a line; for each prints LABEL,
//                            median and p99 of N `execute` round trips (µs),
//                            the calls ipmid made to peers and to the bus
//                            daemon for one of them, the tasks it started,
//                            the completion code, and median and p99 of the
//                            N Properties.Get to `kbench serve` (the floor)
//                            taken in turn with them, and the median of the
//                            floor plus a replay of ipmid's calls to its
//                            peers for one request.
//   kbench system N          median and p99 of N system("true") (µs)
//   kbench default N         median and p99 of N sd_bus_default() (µs)
//   kbench get N SERVICE PATH IFACE PROP
//                            median and p99 of N Properties.Get (µs)
//   kbench listen N          counts PropertiesChanged of /bench/sensor;
//                            prints the clock at the N-th (or the last
//                            before 5 s without one) and the count
//   kbench relay N           for each of N PropertiesChanged of
//                            /bench/sensor, sends one LED Set without
//                            waiting (64 unanswered at most), as
//                            watchkeeper does for one LED action
//   kbench emit N            prints the clock, then emits N
//                            PropertiesChanged of /bench/sensor
//   kbench sets N            waits until `kbench serve` counted N Sets
//                            more than when it started (or 5 s pass
//                            without one); prints the clock at the last
//                            one and how many came
//   kbench start N CMD...    starts CMD N times, each until it asks for
//                            CurrentHostState (this process answers as
//                            xyz.openbmc_project.State.Host); prints the
//                            median and p99 of that time (ms)
//   kbench matches N M       N times: adds M watch rules at once and waits
//                            for the bus to confirm them; prints the median
//                            and p99 (ms)
//   kbench idle              connects to the bus and waits (a bare client)
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace
{

constexpr const char* benchService = "org.kestrel.Bench";
constexpr const char* sensorPath = "/bench/sensor";
constexpr const char* sensorInterface = "xyz.openbmc_project.Bench.Sensor";

[[noreturn]] void die(const char* what, int r)
{
    std::fprintf(stderr, "kbench: %s: %s\n", what, std::strerror(-r));
    std::exit(2);
}

int check(int r, const char* what)
{
    if (r < 0)
    {
        die(what, r);
    }
    return r;
}

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) +
           static_cast<double>(ts.tv_nsec) * 1e-9;
}

sd_bus* openBus()
{
    sd_bus* bus = nullptr;
    check(sd_bus_open_system(&bus), "sd_bus_open_system");
    return bus;
}

// Median and 99th percentile, in the unit the samples were scaled to.
std::pair<double, double> spread(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    auto at = [&v](double q) {
        auto i =
            static_cast<std::size_t>(q * static_cast<double>(v.size() - 1));
        return v[i];
    };
    return {at(0.5), at(0.99)};
}

// Runs `op` n times and prints the median and p99 of its time (µs).
template <class Op>
int timeEach(int n, Op op)
{
    std::vector<double> samples;
    for (int k = 0; k < n; ++k)
    {
        double t0 = now();
        op();
        samples.push_back((now() - t0) * 1e6);
    }
    auto [m, p] = spread(samples);
    std::printf("%.1f\t%.1f\n", m, p);
    return 0;
}

// The match rule of the bench's sensor signals, as a listener would add it.
std::string sensorRule()
{
    return std::string("type='signal',path='") + sensorPath +
           "',interface='org.freedesktop.DBus.Properties',"
           "member='PropertiesChanged',arg0='" +
           sensorInterface + "'";
}

// --- serve -----------------------------------------------------------------

uint32_t setCount = 0;

int onCall(sd_bus_message* m, void*, sd_bus_error*)
{
    const char* iface = sd_bus_message_get_interface(m);
    const char* member = sd_bus_message_get_member(m);
    if (iface == nullptr || member == nullptr ||
        std::strcmp(iface, "org.freedesktop.DBus.Properties") != 0)
    {
        return 0;
    }
    if (std::strcmp(member, "Set") == 0)
    {
        ++setCount;
        return sd_bus_reply_method_return(m, nullptr);
    }
    if (std::strcmp(member, "Get") != 0)
    {
        return 0;
    }
    const char* pi = nullptr;
    const char* prop = nullptr;
    check(sd_bus_message_read(m, "ss", &pi, &prop), "read Get");
    if (std::strcmp(prop, "CurrentHostState") == 0)
    {
        return sd_bus_reply_method_return(
            m, "v", "s", "xyz.openbmc_project.State.Host.HostState.Running");
    }
    if (std::strcmp(prop, "SetCount") == 0)
    {
        return sd_bus_reply_method_return(m, "v", "u", setCount);
    }
    if (std::strcmp(prop, "Asserted") == 0)
    {
        return sd_bus_reply_method_return(m, "v", "b", 1);
    }
    return sd_bus_reply_method_return(m, "v", "u", 42U);
}

int serve(int argc, char** argv)
{
    sd_bus* bus = openBus();
    check(sd_bus_add_fallback(bus, nullptr, "/", onCall, nullptr), "fallback");
    for (int i = 0; i < argc; ++i)
    {
        check(sd_bus_request_name(bus, argv[i], 0), argv[i]);
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;)
    {
        int r = check(sd_bus_process(bus, nullptr), "process");
        if (r == 0)
        {
            check(sd_bus_wait(bus, UINT64_MAX), "wait");
        }
    }
}

// --- rtt -------------------------------------------------------------------

struct Request
{
    std::string label;
    uint8_t netFn = 0;
    uint8_t cmd = 0;
    std::vector<uint8_t> data;
};

sd_bus_message* newExecute(sd_bus* bus, const Request& q)
{
    sd_bus_message* m = nullptr;
    check(sd_bus_message_new_method_call(
              bus, &m, "xyz.openbmc_project.Ipmi.Host",
              "/xyz/openbmc_project/Ipmi", "xyz.openbmc_project.Ipmi.Server",
              "execute"),
          "new execute");
    check(sd_bus_message_append(m, "yyy", q.netFn, 0, q.cmd), "append");
    check(sd_bus_message_append_array(m, 'y', q.data.data(), q.data.size()),
          "append data");
    check(sd_bus_message_append(m, "a{sv}", 0), "append options");
    return m;
}

// One execute; returns the completion code, or -1 on a D-Bus error.
int execute(sd_bus* bus, sd_bus_message* call)
{
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_call(bus, call, 0, &error, &reply);
    int cc = -1;
    if (r >= 0)
    {
        uint8_t a = 0, b = 0, c = 0, code = 0;
        if (sd_bus_message_enter_container(reply, 'r', "yyyyay") >= 0 &&
            sd_bus_message_read(reply, "yyyy", &a, &b, &c, &code) >= 0)
        {
            cc = code;
        }
    }
    else
    {
        std::fprintf(stderr, "kbench: execute: %s\n", error.message);
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return cc;
}

double floorOnce(sd_bus* bus)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    double t0 = now();
    check(sd_bus_call_method(bus, benchService, "/floor",
                             "org.freedesktop.DBus.Properties", "Get", &error,
                             &reply, "ss", "org.kestrel.Bench", "Value"),
          "floor Get");
    double t = now() - t0;
    sd_bus_message_unref(reply);
    return t;
}

// The same call as `seen` (destination, object, member, arguments), sent
// from here and waited for: what that one call of a handler costs against
// the very peer it went to.  An error reply counts as an answer.
double replay(sd_bus* bus, sd_bus_message* seen)
{
    sd_bus_message* call = nullptr;
    check(sd_bus_message_new_method_call(
              bus, &call, sd_bus_message_get_destination(seen),
              sd_bus_message_get_path(seen), sd_bus_message_get_interface(seen),
              sd_bus_message_get_member(seen)),
          "new replay");
    check(sd_bus_message_rewind(seen, 1), "rewind");
    check(sd_bus_message_copy(call, seen, 1), "copy");
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    double t0 = now();
    sd_bus_call(bus, call, 0, &error, &reply);
    double t = now() - t0;
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    return t;
}

long lastPid()
{
    std::ifstream in("/proc/sys/kernel/ns_last_pid");
    long pid = 0;
    in >> pid;
    return pid;
}

// Watches the method calls of ipmid and of this process (BecomeMonitor).
struct Monitor
{
    sd_bus* bus = nullptr;
    std::string me;
    std::string ipmid;

    Monitor(const std::string& meName, const std::string& ipmidName) :
        me(meName), ipmid(ipmidName)
    {
        check(sd_bus_new(&bus), "sd_bus_new");
        check(sd_bus_set_address(bus, "unix:path=/run/dbus/system_bus_socket"),
              "address");
        check(sd_bus_set_bus_client(bus, 1), "client");
        check(sd_bus_set_monitor(bus, 1), "monitor");
        check(sd_bus_start(bus), "monitor start");
        std::string r1 = "type='method_call',sender='" + ipmid + "'";
        std::string r2 = "type='method_call',sender='" + me + "'";
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* call = nullptr;
        check(sd_bus_message_new_method_call(
                  bus, &call, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                  "org.freedesktop.DBus.Monitoring", "BecomeMonitor"),
              "BecomeMonitor");
        check(sd_bus_message_append(call, "asu", 2, r1.c_str(), r2.c_str(), 0U),
              "append rules");
        check(sd_bus_call(bus, call, 0, &error, nullptr), "BecomeMonitor call");
        sd_bus_message_unref(call);
    }

    // Reads until the marker call of this process; counts ipmid's calls to
    // peers and to the bus daemon on the way, and keeps the calls to peers
    // in `seen` when it is given.
    void drain(const char* marker, int& peers, int& daemon,
               std::vector<sd_bus_message*>* seen = nullptr)
    {
        peers = daemon = 0;
        for (;;)
        {
            sd_bus_message* m = nullptr;
            int r = check(sd_bus_process(bus, &m), "monitor process");
            if (r == 0)
            {
                check(sd_bus_wait(bus, 5'000'000), "monitor wait");
                continue;
            }
            if (m == nullptr)
            {
                continue;
            }
            const char* sender = sd_bus_message_get_sender(m);
            const char* dest = sd_bus_message_get_destination(m);
            const char* member = sd_bus_message_get_member(m);
            if (sender != nullptr && ipmid == sender)
            {
                bool toDaemon = dest != nullptr &&
                                std::strcmp(dest, "org.freedesktop.DBus") == 0;
                (toDaemon ? daemon : peers)++;
                if (!toDaemon && seen != nullptr)
                {
                    seen->push_back(sd_bus_message_ref(m));
                }
            }
            bool done =
                sender != nullptr && me == sender && member != nullptr &&
                std::strcmp(member, "GetNameOwner") == 0 && dest != nullptr &&
                std::strcmp(dest, "org.freedesktop.DBus") == 0 &&
                sd_bus_message_has_signature(m, "s") > 0 && [&] {
                    const char* s = nullptr;
                    return sd_bus_message_read(m, "s", &s) >= 0 &&
                           std::strcmp(s, marker) == 0;
                }();
            sd_bus_message_unref(m);
            if (done)
            {
                return;
            }
        }
    }
};

std::string nameOwner(sd_bus* bus, const char* name)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus, "org.freedesktop.DBus",
                               "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "GetNameOwner", &error, &reply, "s", name);
    std::string owner;
    const char* s = nullptr;
    if (r >= 0 && sd_bus_message_read(reply, "s", &s) >= 0)
    {
        owner = s;
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return owner;
}

int rtt(int argc, char** argv)
{
    if (argc < 1)
    {
        return 2;
    }
    int n = std::atoi(argv[0]);
    std::vector<Request> requests;
    std::string line;
    while (std::getline(std::cin, line))
    {
        std::istringstream in(line);
        Request q;
        unsigned v = 0;
        in >> q.label >> std::hex >> v;
        q.netFn = static_cast<uint8_t>(v);
        in >> v;
        q.cmd = static_cast<uint8_t>(v);
        while (in >> v)
        {
            q.data.push_back(static_cast<uint8_t>(v));
        }
        if (!q.label.empty())
        {
            requests.push_back(q);
        }
    }
    sd_bus* bus = openBus();
    const char* me = nullptr;
    check(sd_bus_get_unique_name(bus, &me), "unique name");
    std::string ipmid = nameOwner(bus, "xyz.openbmc_project.Ipmi.Host");
    if (ipmid.empty())
    {
        std::fprintf(stderr, "kbench: no ipmid on the bus\n");
        return 2;
    }

    // What each command does, counted on one call with the monitor on.
    struct Counts
    {
        int peers = 0, daemon = 0;
        long tasks = 0;
        int cc = -1;
        // ipmid's calls to peers for one request, replayed beside it.
        std::vector<sd_bus_message*> calls;
    };
    std::vector<Counts> counts(requests.size());
    {
        Monitor mon(me, ipmid);
        // Three passes: the last shows the calls of a caller already known,
        // and the fewest tasks seen leave out what others started.
        for (int pass = 0; pass < 3; ++pass)
        {
            for (std::size_t i = 0; i < requests.size(); ++i)
            {
                sd_bus_message* call = newExecute(bus, requests[i]);
                long before = lastPid();
                counts[i].cc = execute(bus, call);
                long tasks = lastPid() - before;
                counts[i].tasks =
                    pass == 0 ? tasks : std::min(counts[i].tasks, tasks);
                sd_bus_message_unref(call);
                std::string marker = ":kbench." + std::to_string(i);
                nameOwner(bus, marker.c_str());
                mon.drain(marker.c_str(), counts[i].peers, counts[i].daemon,
                          pass == 2 ? &counts[i].calls : nullptr);
            }
        }
        sd_bus_flush_close_unref(mon.bus);
    }

    // Each command's round trips alternate with floor round trips, so that
    // both see the same load of a shared machine.
    for (int k = 0; k < n / 10 + 1; ++k)
    {
        floorOnce(bus);
    }
    for (std::size_t i = 0; i < requests.size(); ++i)
    {
        // Commands that start processes are slow: fewer rounds keep the
        // run short.
        int rounds = counts[i].tasks > 0 ? std::max(n / 20, 20) : n;
        std::vector<double> samples, floors, peerFloors;
        for (int k = 0; k < rounds / 10 + 1; ++k)
        {
            sd_bus_message* call = newExecute(bus, requests[i]);
            execute(bus, call);
            sd_bus_message_unref(call);
        }
        for (int k = 0; k < rounds; ++k)
        {
            floors.push_back(floorOnce(bus) * 1e6);
            double peerFloor = floors.back();
            for (sd_bus_message* seen : counts[i].calls)
            {
                peerFloor += replay(bus, seen) * 1e6;
            }
            peerFloors.push_back(peerFloor);
            sd_bus_message* call = newExecute(bus, requests[i]);
            double t0 = now();
            execute(bus, call);
            samples.push_back((now() - t0) * 1e6);
            sd_bus_message_unref(call);
        }
        auto [m, p] = spread(samples);
        auto [fm, fp] = spread(floors);
        auto [pm, pp] = spread(peerFloors);
        std::printf("%s\t%.1f\t%.1f\t%d\t%d\t%ld\t%d\t%.1f\t%.1f\t%.1f\n",
                    requests[i].label.c_str(), m, p, counts[i].peers,
                    counts[i].daemon, counts[i].tasks, counts[i].cc, fm, fp,
                    pm);
        for (sd_bus_message* seen : counts[i].calls)
        {
            sd_bus_message_unref(seen);
        }
        std::fflush(stdout);
    }
    return 0;
}

// N Properties.Get of PROP (interface IFACE) of PATH at SERVICE: what one
// blocking call of a handler costs against that peer.
int get(int argc, char** argv)
{
    if (argc < 5)
    {
        return 2;
    }
    sd_bus* bus = openBus();
    return timeEach(std::atoi(argv[0]), [&] {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        check(sd_bus_call_method(bus, argv[1], argv[2],
                                 "org.freedesktop.DBus.Properties", "Get",
                                 &error, &reply, "ss", argv[3], argv[4]),
              "Get");
        sd_bus_message_unref(reply);
    });
}

// N sd_bus_default() calls, each released at once, as a legacy handler's
// blocking operations obtain and release the thread's default bus.  The
// connection itself stays open (held here), so what is measured is the
// choice of the default bus, not a connect.
int defaultBus(int argc, char** argv)
{
    sd_bus* held = nullptr;
    check(sd_bus_default_system(&held), "sd_bus_default_system");
    return timeEach(argc > 0 ? std::atoi(argv[0]) : 1000, [] {
        sd_bus* bus = nullptr;
        check(sd_bus_default(&bus), "sd_bus_default");
        sd_bus_unref(bus);
    });
}

int systemTrue(int argc, char** argv)
{
    return timeEach(argc > 0 ? std::atoi(argv[0]) : 100,
                    [] { [[maybe_unused]] int status = std::system("true"); });
}

// --- signals ---------------------------------------------------------------

int listen(int argc, char** argv)
{
    long n = argc > 0 ? std::atol(argv[0]) : 1000;
    sd_bus* bus = openBus();
    static long seen = 0;
    std::string rule = sensorRule();
    check(sd_bus_add_match(
              bus, nullptr, rule.c_str(),
              [](sd_bus_message* m, void*, sd_bus_error*) {
                  // Read the body as a listener that acts on it would.
                  const char* iface = nullptr;
                  if (sd_bus_message_read(m, "s", &iface) >= 0)
                  {
                      ++seen;
                  }
                  return 0;
              },
              nullptr),
          "add match");
    std::printf("ready\n");
    std::fflush(stdout);
    double last = now();
    while (seen < n)
    {
        long before = seen;
        int r = check(sd_bus_process(bus, nullptr), "process");
        if (seen != before)
        {
            last = now();
        }
        // Gives up after 5 s without a signal.
        if (r == 0 && check(sd_bus_wait(bus, 5'000'000), "wait") == 0)
        {
            break;
        }
    }
    std::printf("%.6f %ld\n", last, seen);
    return 0;
}

// What watchkeeper does on the bus for one LED action, done by a bare
// client: one Properties.Set of an LED group's Asserted per signal, not
// waited for, at most 64 unanswered at once (later ones queue).
struct Relay
{
    sd_bus* bus = nullptr;
    long seen = 0;
    long queued = 0;
    int pending = 0;

    static int onSignal(sd_bus_message* m, void* self, sd_bus_error*)
    {
        auto* r = static_cast<Relay*>(self);
        const char* iface = nullptr;
        if (sd_bus_message_read(m, "s", &iface) >= 0)
        {
            ++r->seen;
            ++r->queued;
            r->send();
        }
        return 0;
    }

    static int onReply(sd_bus_message*, void* self, sd_bus_error*)
    {
        auto* r = static_cast<Relay*>(self);
        --r->pending;
        r->send();
        return 0;
    }

    void send()
    {
        for (; pending < 64 && queued > 0; ++pending, --queued)
        {
            check(sd_bus_call_method_async(
                      bus, nullptr, "xyz.openbmc_project.LED.GroupManager",
                      "/xyz/openbmc_project/led/groups/bench",
                      "org.freedesktop.DBus.Properties", "Set", onReply, this,
                      "ssv", "xyz.openbmc_project.Led.Group", "Asserted", "b",
                      1),
                  "relay Set");
        }
    }
};

int relay(int argc, char** argv)
{
    long n = argc > 0 ? std::atol(argv[0]) : 1000;
    Relay r;
    r.bus = openBus();
    std::string rule = sensorRule();
    check(sd_bus_add_match(r.bus, nullptr, rule.c_str(), Relay::onSignal, &r),
          "add match");
    std::printf("ready\n");
    std::fflush(stdout);
    // Until every Set of N signals is answered, or 5 s pass without news.
    while (r.seen < n || r.queued > 0 || r.pending > 0)
    {
        int got = check(sd_bus_process(r.bus, nullptr), "process");
        if (got == 0 && check(sd_bus_wait(r.bus, 5'000'000), "wait") == 0)
        {
            break;
        }
    }
    return 0;
}

int emit(int argc, char** argv)
{
    long n = argc > 0 ? std::atol(argv[0]) : 1000;
    sd_bus* bus = openBus();
    std::printf("%.6f\n", now());
    std::fflush(stdout);
    for (long k = 0; k < n; ++k)
    {
        sd_bus_message* m = nullptr;
        check(sd_bus_message_new_signal(bus, &m, sensorPath,
                                        "org.freedesktop.DBus.Properties",
                                        "PropertiesChanged"),
              "new signal");
        check(sd_bus_message_append(m, "sa{sv}as", sensorInterface, 1, "Alarm",
                                    "b", 1, 0),
              "append");
        check(sd_bus_send(bus, m, nullptr), "send");
        sd_bus_message_unref(m);
    }
    check(sd_bus_flush(bus), "flush");
    return 0;
}

uint32_t readSetCount(sd_bus* bus)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    check(sd_bus_call_method(bus, "xyz.openbmc_project.LED.GroupManager", "/",
                             "org.freedesktop.DBus.Properties", "Get", &error,
                             &reply, "ss", "org.kestrel.Bench", "SetCount"),
          "SetCount");
    uint32_t v = 0;
    check(sd_bus_message_read(reply, "v", "u", &v), "read SetCount");
    sd_bus_message_unref(reply);
    return v;
}

int sets(int argc, char** argv)
{
    uint32_t n = argc > 0 ? static_cast<uint32_t>(std::atol(argv[0])) : 1000;
    sd_bus* bus = openBus();
    uint32_t start = readSetCount(bus);
    std::printf("ready\n");
    std::fflush(stdout);
    // Polls the counter; each poll is one round trip, small beside the
    // thousands of signals it waits for.  Gives up after 5 s without one
    // more Set, and prints the clock at the last one and how many came.
    uint32_t seen = 0;
    double last = now();
    while (seen < n && now() - last < 5)
    {
        usleep(200);
        uint32_t count = readSetCount(bus) - start;
        if (count != seen)
        {
            seen = count;
            last = now();
        }
    }
    std::printf("%.6f %u\n", last, seen);
    return 0;
}

// --- start -----------------------------------------------------------------

int start(int argc, char** argv)
{
    if (argc < 2)
    {
        return 2;
    }
    int n = std::atoi(argv[0]);
    sd_bus* bus = openBus();
    check(sd_bus_request_name(bus, "xyz.openbmc_project.State.Host", 0),
          "request State.Host");
    static bool asked = false;
    check(sd_bus_add_fallback(
              bus, nullptr, "/",
              [](sd_bus_message* m, void*, sd_bus_error*) {
                  const char* member = sd_bus_message_get_member(m);
                  if (member == nullptr || std::strcmp(member, "Get") != 0)
                  {
                      return 0;
                  }
                  asked = true;
                  return sd_bus_reply_method_return(
                      m, "v", "s",
                      "xyz.openbmc_project.State.Host.HostState.Running");
              },
              nullptr),
          "fallback");
    std::vector<double> samples;
    for (int k = 0; k < n; ++k)
    {
        asked = false;
        double t0 = now();
        pid_t pid = fork();
        if (pid == 0)
        {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            execv(argv[1], argv + 1);
            _exit(127);
        }
        while (!asked)
        {
            int r = check(sd_bus_process(bus, nullptr), "process");
            if (r == 0)
            {
                int status = 0;
                if (waitpid(pid, &status, WNOHANG) == pid)
                {
                    std::fprintf(stderr, "kbench: %s exited early\n", argv[1]);
                    return 2;
                }
                check(sd_bus_wait(bus, 100'000), "wait");
            }
        }
        samples.push_back((now() - t0) * 1e3);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    auto [m, p] = spread(samples);
    std::printf("%.2f\t%.2f\n", m, p);
    return 0;
}

// N watch rules of watchkeeper's shape added at once and confirmed with
// one round trip, as it does at start-up, on a fresh connection each
// time: what the bus itself spends on a configuration of N monitors.
int matches(int argc, char** argv)
{
    if (argc < 2)
    {
        return 2;
    }
    int rounds = std::atoi(argv[0]);
    int n = std::atoi(argv[1]);
    std::vector<double> samples;
    for (int k = 0; k < rounds; ++k)
    {
        sd_bus* bus = openBus();
        std::vector<sd_bus_slot*> slots;
        double t0 = now();
        for (int i = 0; i < n; ++i)
        {
            std::string rule =
                "type='signal',path='/bench/m" + std::to_string(i) +
                "',member='PropertiesChanged',interface='org.freedesktop.DBus."
                "Properties',arg0='xyz.openbmc_project.Bench',";
            sd_bus_slot* slot = nullptr;
            check(sd_bus_add_match_async(bus, &slot, rule.c_str(), nullptr,
                                         nullptr, nullptr),
                  "add match");
            slots.push_back(slot);
        }
        nameOwner(bus, "org.freedesktop.DBus");
        while (check(sd_bus_process(bus, nullptr), "process") > 0)
        {
        }
        samples.push_back((now() - t0) * 1e3);
        for (sd_bus_slot* slot : slots)
        {
            sd_bus_slot_unref(slot);
        }
        sd_bus_flush_close_unref(bus);
    }
    auto [m, p] = spread(samples);
    std::printf("%.2f\t%.2f\n", m, p);
    return 0;
}

int idle()
{
    sd_bus* bus = openBus();
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;)
    {
        int r = check(sd_bus_process(bus, nullptr), "process");
        if (r == 0)
        {
            check(sd_bus_wait(bus, UINT64_MAX), "wait");
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr,
                     "usage: kbench "
                     "serve|rtt|get|system|listen|emit|sets|start|idle ...\n");
        return 2;
    }
    std::string mode = argv[1];
    using Mode = int (*)(int, char**);
    static const std::map<std::string, Mode> modes = {
        {"serve", serve},
        {"rtt", rtt},
        {"get", get},
        {"system", systemTrue},
        {"listen", listen},
        {"emit", emit},
        {"relay", relay},
        {"sets", sets},
        {"start", start},
        {"matches", matches},
        {"default", defaultBus},
        {"idle", [](int, char**) { return idle(); }}};
    if (auto it = modes.find(mode); it != modes.end())
    {
        return it->second(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "kbench: unknown mode %s\n", mode.c_str());
    return 2;
}
