#include "provider.hpp"

#include "host.hpp"
#include "host_bus.hpp"
#include "sandbox.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace kestrel::test
{

namespace
{

void* loadOnce()
{
    if (ipmi::host::loadProviders(KESTREL_PROVIDER_DIR).size() != 1)
    {
        return nullptr;
    }
    return ::dlopen(
        (std::string(KESTREL_PROVIDER_DIR) + "/libkestrelipmi.so").c_str(),
        RTLD_NOW | RTLD_NOLOAD);
}

void checkRange(std::size_t size, std::size_t offset, std::size_t count)
{
    if (offset > size || count > size - offset)
    {
        throw std::out_of_range("past the end of " + std::string(EEPROM_PATH));
    }
}

} // namespace

void* kestrelProvider()
{
    // Once per process: every suite shares registrations and state.
    static void* const lib = loadOnce();
    return lib;
}

Reply send(ipmi::NetFn netFn, ipmi::Cmd cmd, const Bytes& data)
{
    boost::asio::io_context io;
    auto reply = ipmi::host::execute(io, netFn, cmd, data);
    return {reply.cc, std::move(reply.data)};
}

Bytes ask(ipmi::Cmd cmd, const Bytes& data)
{
    kestrelProvider();
    Reply reply = send(0x3A, cmd, data);
    reply.data.insert(reply.data.begin(), reply.cc);
    return reply.data;
}

Reply HostBus::send(ipmi::NetFn netFn, ipmi::Cmd cmd, const Bytes& data)
{
    auto reply = ipmi::host::execute(io, netFn, cmd, data, bus);
    return {reply.cc, std::move(reply.data)};
}

Bytes readEeprom(std::size_t offset, std::size_t count)
{
    Bytes image = readFile(EEPROM_PATH);
    checkRange(image.size(), offset, count);
    auto at = image.begin() + static_cast<std::ptrdiff_t>(offset);
    return {at, at + static_cast<std::ptrdiff_t>(count)};
}

void writeEeprom(std::size_t offset, std::span<const uint8_t> bytes)
{
    Bytes image = readFile(EEPROM_PATH);
    checkRange(image.size(), offset, bytes.size());
    std::copy(bytes.begin(), bytes.end(),
              image.begin() + static_cast<std::ptrdiff_t>(offset));
    writeFile(EEPROM_PATH, image);
}

void eraseEeprom(std::size_t offset, std::size_t count)
{
    writeEeprom(offset, Bytes(count, 0xFF));
}

} // namespace kestrel::test
