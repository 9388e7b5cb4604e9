// A fuzz input read front to back: bytes, small numbers, strings.  Past the
// end every read yields zeros or empty strings, so a target never needs to
// check the length.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrel::fuzz
{

class Input
{
  public:
    Input(const uint8_t* data, std::size_t size) : rest(data, size)
    {
    }

    bool empty() const
    {
        return rest.empty();
    }
    uint8_t byte()
    {
        if (rest.empty())
        {
            return 0;
        }
        uint8_t b = rest.front();
        rest = rest.subspan(1);
        return b;
    }
    template <typename T>
    T number()
    {
        T value{};
        for (std::size_t i = 0; i < sizeof(T); ++i)
        {
            value =
                static_cast<T>((static_cast<uint64_t>(value) << 8) | byte());
        }
        return value;
    }
    /** A string of up to `max` bytes, its length given by the first byte. */
    std::string text(std::size_t max = 64)
    {
        std::size_t n = std::min<std::size_t>(byte() % (max + 1), rest.size());
        std::string s(reinterpret_cast<const char*>(rest.data()), n);
        rest = rest.subspan(n);
        return s;
    }
    /** One of `words`, or a string of the input's own. */
    template <std::size_t N>
    std::string pick(const char* const (&words)[N])
    {
        uint8_t b = byte();
        return b < N ? std::string(words[b]) : text();
    }
    /** What is left, copied into a buffer of exactly its size. */
    std::vector<uint8_t> remaining()
    {
        std::vector<uint8_t> out(rest.begin(), rest.end());
        rest = {};
        return out;
    }

  private:
    std::span<const uint8_t> rest;
};

} // namespace kestrel::fuzz
