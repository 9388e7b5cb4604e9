#pragma once

// libkestrelipmi loaded into the host's registry as ipmid loads it, once per
// test process, and requests sent to it through the host's dispatcher; and
// the board EEPROM image the sandbox gives the library (EEPROM_PATH).

#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <ipmid/api-types.hpp>
#include <span>
#include <vector>

namespace kestrel::test
{

using Bytes = std::vector<uint8_t>;

/** A completion code and the response bytes after it.  This header keeps
 *  clear of the host's Asio headers, so a test that only sends requests
 *  compiles quickly; host_bus.hpp has the host's own connection. */
struct Reply
{
    ipmi::Cc cc;
    Bytes data;
};

/** The library's handle, loading the build's provider directory on the
 *  first call; null when the library is not the one provider there.  Any
 *  library a test wants the provider to bind to in place of a real one
 *  (a test double) must be loaded before the first call. */
void* kestrelProvider();

/** A function or variable the library exports, or null. */
template <typename T>
T providerSymbol(const char* name)
{
    void* lib = kestrelProvider();
    return lib == nullptr ? nullptr : reinterpret_cast<T>(::dlsym(lib, name));
}

/** One request through the host's dispatcher, run to completion on an
 *  io_context of its own and with no connection of the host's: what a
 *  legacy handler, which opens its own, sees. */
Reply send(ipmi::NetFn netFn, ipmi::Cmd cmd, const Bytes& data = {});

/** A request to the board's OEM NetFn 0x3A, loading the library on first
 *  use: the completion code followed by the response bytes, for tables. */
Bytes ask(ipmi::Cmd cmd, const Bytes& data = {});

/** `count` bytes of the EEPROM image from `offset`.  These read and rewrite
 *  the whole image file, and throw std::out_of_range past its end. */
Bytes readEeprom(std::size_t offset, std::size_t count);
void writeEeprom(std::size_t offset, std::span<const uint8_t> bytes);
/** Sets `count` bytes from `offset` to 0xFF, as an erased part reads. */
void eraseEeprom(std::size_t offset, std::size_t count);

} // namespace kestrel::test
