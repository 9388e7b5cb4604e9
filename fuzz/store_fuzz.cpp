// The board libraries' store files as they may be found on the board: the
// input is the file, then the library reads it and writes a value into it
// (a write reads the rest of the file and must keep it).  Built once per
// library: -DSTORE_KEYSHELF, -DSTORE_REVSTORE or -DSTORE_SIDEBANDCFG.
#include "fuzz_input.hpp"
#include "internal.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace
{

const std::string& storePath()
{
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string dir = std::string(tmp != nullptr ? tmp : "/tmp") +
                          "/kestrel-store-fuzz.XXXXXX";
        if (::mkdtemp(dir.data()) == nullptr)
        {
            std::abort();
        }
        return dir + "/store";
    }();
    return path;
}

void writeStore(const std::vector<uint8_t>& bytes)
{
    int fd = ::open(storePath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 ||
        ::write(fd, bytes.data(), bytes.size()) !=
            static_cast<ssize_t>(bytes.size()) ||
        ::close(fd) != 0)
    {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size)
{
    kestrel::fuzz::Input in(bytes, size);
    const char* path = storePath().c_str();
#if defined(STORE_KEYSHELF)
    constexpr const char* words[] = {"SSH", "eth0", "eth1", "Net", "mode"};
    std::string section = in.pick(words);
    std::string key = in.pick(words);
    auto value = static_cast<long>(in.number<int32_t>());
    writeStore(in.remaining());
    keyshelf::getLong(path, section.c_str(), key.c_str(), -1);
    if (keyshelf::setLong(path, section.c_str(), key.c_str(), value) == 0 &&
        keyshelf::getLong(path, section.c_str(), key.c_str(), value - 1) !=
            value)
    {
        std::abort(); // a stored value must read back
    }
#elif defined(STORE_REVSTORE)
    uint8_t index = in.byte() % (REVSTORE_RECORD_COUNT + 2);
    COMMON_VERSION_INFO info{};
    for (uint8_t& b : info.reserved)
    {
        b = in.byte();
    }
    info.major = in.byte();
    writeStore(in.remaining());
    COMMON_VERSION_INFO read{};
    revstore::getRecord(path, index, &read);
    if (revstore::setRecord(path, index, &info) == 0 &&
        (revstore::getRecord(path, index, &read) != 0 ||
         read.major != info.major))
    {
        std::abort();
    }
#elif defined(STORE_SIDEBANDCFG)
    uint8_t port = in.byte();
    writeStore(in.remaining());
    sidebandcfg::getPort(path);
    if (sidebandcfg::setPort(path, port) == 0 &&
        sidebandcfg::getPort(path) != port)
    {
        std::abort();
    }
#else
#error "which store?"
#endif
    return 0;
}
