#include "internal.hpp"
#include "scratch_dir.hpp"

#include <cerrno>

namespace
{

using SidebandTest = ScratchDir;

TEST_F(SidebandTest, PortRoundTrip)
{
    std::string store = path("sidebandcfg/port");
    EXPECT_EQ(sidebandcfg::getPort(store.c_str()), 0);
    for (uint8_t port : {2, 255, 0, 1})
    {
        ASSERT_EQ(sidebandcfg::setPort(store.c_str(), port), 0);
        EXPECT_EQ(sidebandcfg::getPort(store.c_str()), port);
    }
    EXPECT_TRUE(strays({"sidebandcfg"}).empty());
}

TEST_F(SidebandTest, DamagedStoreIsAnError)
{
    std::string store = path("port");
    for (const char* text : {"", "x1\n", "256\n", "-1\n"})
    {
        spit(store, text);
        EXPECT_LT(sidebandcfg::getPort(store.c_str()), 0) << text;
    }
    // A store that cannot be replaced reports the failure.
    std::string blocked = path("port/sub");
    EXPECT_LT(sidebandcfg::setPort(blocked.c_str(), 1), 0);
}

} // namespace
