#include "internal.hpp"
#include "scratch_dir.hpp"

using SidebandTest = ScratchDir;

TEST_F(SidebandTest, PortRoundTripAndDamagedStore)
{
    std::string store = path("sidebandcfg/port");
    EXPECT_EQ(sidebandcfg::getPort(store.c_str()), 0);
    ASSERT_EQ(sidebandcfg::setPort(store.c_str(), 255), 0);
    EXPECT_EQ(sidebandcfg::getPort(store.c_str()), 255);
    for (const char* text : {"", "x1\n", "256\n", "-1\n"})
    {
        spit(store, text);
        EXPECT_LT(sidebandcfg::getPort(store.c_str()), 0) << text;
    }
    EXPECT_LT(sidebandcfg::setPort((store + "/sub").c_str(), 1), 0);
}
