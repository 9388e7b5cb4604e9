// Get BMC interface: a pure decode of the request's mask.
#include "bmc_interface.hpp"
#include "fakes.hpp"

#include <gtest/gtest.h>

namespace kestrel::test
{
namespace
{

using bmc_interface::getBmcInterface;

TEST(BmcInterface, Requests)
{
    const Case cases[] = {
        {"empty", {}, failure(0xC7)},
        {"too short", {0x01, 0x00}, failure(0xC7)},
        {"no bit", {0x01, 0x00, 0x00}, success({0x00, 0x00, 0x00})},
        {"bit 0", {0x01, 0x00, 0x01}, success({0x07, 0x00, 0x00})},
        {"bits 0 and 2", {0x01, 0x00, 0x05}, success({0x07, 0x00, 0x07})},
        {"largest mask", {0x01, 0x00, 0x07}, success({0x07, 0x07, 0x07})},
        {"mask past the largest", {0x01, 0x00, 0x08}, failure(0xC1)},
        {"mask 0xFF", {0x01, 0x00, 0xFF}, failure(0xC1)},
        {"first byte not 0x01", {0x00, 0x00, 0x01}, failure(0xC1)},
        {"second byte not 0x00", {0x01, 0x01, 0x01}, failure(0xC1)},
        {"trailing", {0x01, 0x00, 0x02, 0x09}, success({0x00, 0x07, 0x00})},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(getBmcInterface(c.request), c.expected) << c.name;
    }
}

} // namespace
} // namespace kestrel::test
