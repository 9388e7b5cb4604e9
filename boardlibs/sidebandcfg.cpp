#include "file_store.hpp"
#include "internal.hpp"

#include <cerrno>
#include <charconv>
#include <string>
#include <vector>

namespace sidebandcfg
{

// The port is kept as a decimal line of text.
int getPort(const char* path)
{
    std::vector<uint8_t> bytes;
    if (int rc = board_io::readFile(path, bytes); rc < 0)
    {
        return rc == -ENOENT ? 0 : rc;
    }
    std::string text(bytes.begin(), bytes.end());
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' ||
                             text.back() == '\r' || text.back() == '\t'))
    {
        text.pop_back();
    }
    unsigned port = 0;
    auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() ||
        port > 0xff)
    {
        // A damaged store is reported, not mistaken for port 0.
        return -EIO;
    }
    return static_cast<int>(port);
}

int setPort(const char* path, uint8_t port)
{
    std::string text = std::to_string(port) + "\n";
    return board_io::replaceFile(
        path, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

} // namespace sidebandcfg
