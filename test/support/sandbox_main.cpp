// gtest main for tests that must run inside the board sandbox: outside it
// the binary exits 77 (meson's "skipped") before any test can touch the host.

#include "sandbox.hpp"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    kestrel::test::requireSandbox();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
