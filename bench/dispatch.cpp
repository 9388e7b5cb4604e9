// The host's dispatch cost for pure handlers (no bus, no files): decode,
// lookup, call and encode, with and without the coroutine each request of
// the front ends runs in.
#include "host.hpp"

#include <benchmark/benchmark.h>
#include <ipmid/api.h>

#include <boost/asio/detached.hpp>
#include <boost/asio/spawn.hpp>
#include <cstring>
#include <ipmid/api.hpp>

namespace
{

constexpr ipmi::NetFn netFn = 0x30;
constexpr ipmi::Cmd legacyCmd = 0x01;
constexpr ipmi::Cmd typedCmd = 0x02;

// Answers its two request bytes swapped.
ipmi_ret_t legacyEcho(ipmi_netfn_t, ipmi_cmd_t, ipmi_request_t request,
                      ipmi_response_t response, ipmi_data_len_t len,
                      ipmi_context_t)
{
    const auto* in = static_cast<const uint8_t*>(request);
    auto* out = static_cast<uint8_t*>(response);
    out[0] = in[1];
    out[1] = in[0];
    *len = 2;
    return 0;
}

void registerHandlers()
{
    static bool done = false;
    if (done)
    {
        return;
    }
    done = true;
    ipmi_register_callback(netFn, legacyCmd, nullptr, legacyEcho,
                           PRIVILEGE_ADMIN);
    ipmi::registerHandler(
        ipmi::prioOemBase, netFn, typedCmd, ipmi::Privilege::Admin,
        [](uint8_t a, uint8_t b) -> ipmi::RspType<uint8_t, uint8_t> {
            return ipmi::responseSuccess(b, a);
        });
}

const std::vector<uint8_t> request{0x12, 0x34};

// What one front-end request costs: a coroutine of its own, then dispatch.
void spawnAndDispatch(benchmark::State& state, ipmi::Cmd cmd)
{
    registerHandlers();
    boost::asio::io_context io;
    for (auto _ : state)
    {
        auto reply = ipmi::host::execute(io, netFn, cmd, request);
        benchmark::DoNotOptimize(reply);
    }
}

// Dispatch alone, inside one coroutine.
void dispatchOnly(benchmark::State& state, ipmi::Cmd cmd)
{
    registerHandlers();
    boost::asio::io_context io;
    boost::asio::spawn(
        io,
        [&state, cmd](boost::asio::yield_context yield) {
            for (auto _ : state)
            {
                auto reply = ipmi::host::dispatch(yield, nullptr, netFn, 0, cmd,
                                                  request);
                benchmark::DoNotOptimize(reply);
            }
        },
        boost::asio::detached);
    io.run();
}

} // namespace

BENCHMARK_CAPTURE(dispatchOnly, legacy, legacyCmd);
BENCHMARK_CAPTURE(dispatchOnly, typed, typedCmd);
BENCHMARK_CAPTURE(spawnAndDispatch, legacy, legacyCmd);
BENCHMARK_CAPTURE(spawnAndDispatch, typed, typedCmd);

BENCHMARK_MAIN();
