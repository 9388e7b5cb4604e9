#pragma once

// libkestrelipmi loaded into the host's registry once per test process, as
// ipmid loads it; requests through the host's dispatcher; and the board
// EEPROM image the sandbox gives the library (EEPROM_PATH).

#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <ipmid/api-types.hpp>
#include <span>
#include <vector>

namespace kestrel::test
{

using Bytes = std::vector<uint8_t>;

/** A completion code and the response bytes.  (No Asio here, so a test that
 *  only sends requests compiles quickly; host_bus.hpp has a connection.) */
struct Reply
{
    ipmi::Cc cc;
    Bytes data;
};

/** The library's handle, loading the build's provider directory on the
 *  first call (load test doubles before); null unless it is the one
 *  provider there. */
void* kestrelProvider();

/** A function or variable the library exports, or null. */
template <typename T>
T providerSymbol(const char* name)
{
    void* lib = kestrelProvider();
    return lib == nullptr ? nullptr : reinterpret_cast<T>(::dlsym(lib, name));
}

/** One request through the dispatcher on an io_context of its own and with
 *  no connection: what a legacy handler, which opens its own, sees. */
Reply send(ipmi::NetFn netFn, ipmi::Cmd cmd, const Bytes& data = {});

/** A request to NetFn 0x3A, loading the library: cc and response bytes. */
Bytes ask(ipmi::Cmd cmd, const Bytes& data = {});

/** The EEPROM image's bytes from `offset`; these throw std::out_of_range
 *  past its end.  Erased bytes read 0xFF. */
Bytes readEeprom(std::size_t offset, std::size_t count);
void writeEeprom(std::size_t offset, std::span<const uint8_t> bytes);
void eraseEeprom(std::size_t offset, std::size_t count);

} // namespace kestrel::test
