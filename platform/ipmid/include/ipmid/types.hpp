#pragma once

#include <openssl/crypto.h>

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

namespace ipmi
{

// Allocator that wipes memory before giving it back, so request payloads do
// not linger in freed heap blocks.
template <typename T>
struct SecureAllocator : public std::allocator<T>
{
    template <typename U>
    struct rebind
    {
        using other = SecureAllocator<U>;
    };

    SecureAllocator() = default;
    template <typename U>
    SecureAllocator(const SecureAllocator<U>&) noexcept
    {
    }

    void deallocate(T* p, std::size_t n)
    {
        OPENSSL_cleanse(p, n * sizeof(T));
        std::allocator<T>::deallocate(p, n);
    }
};

class SecureBuffer : public std::vector<uint8_t, SecureAllocator<uint8_t>>
{
  public:
    using Base = std::vector<uint8_t, SecureAllocator<uint8_t>>;
    using Base::Base;
    SecureBuffer() = default;
    SecureBuffer(const SecureBuffer&) = default;
    SecureBuffer(SecureBuffer&&) = default;
    SecureBuffer& operator=(const SecureBuffer&) = default;
    SecureBuffer& operator=(SecureBuffer&&) = default;
    explicit SecureBuffer(const Base& other) : Base(other)
    {
    }
    explicit SecureBuffer(Base&& other) : Base(std::move(other))
    {
    }
    ~SecureBuffer()
    {
        OPENSSL_cleanse(data(), size());
    }
};

using Association = std::tuple<std::string, std::string, std::string>;
using BootProgressCode = std::tuple<std::vector<uint8_t>, std::vector<uint8_t>>;

using Value = std::variant<bool, uint8_t, int16_t, uint16_t, int32_t, uint32_t,
                           int64_t, uint64_t, double, std::string,
                           std::vector<uint8_t>, std::vector<uint16_t>,
                           std::vector<uint32_t>, std::vector<std::string>,
                           std::vector<Association>, BootProgressCode>;

} // namespace ipmi
