// The command table as ipmid sees it after loading libkestrelipmi: exactly
// the commands built so far, each with its style, privilege and priority.
// (The exports test holds the library's symbols to oem/exports.list.)
#include "host.hpp"
#include "provider.hpp"

#include <set>

#include <gtest/gtest.h>

TEST(CommandTable, RegistersExactlyTheTableWithItsPrivilegeAndPriority)
{
    // Before the one load of the process, so the table holds exactly what
    // the library's constructors register.
    ipmi::host::clearRegistry();
    ASSERT_NE(kestrel::test::kestrelProvider(), nullptr);
    // Keys (netFn << 8) | cmd: the typed handlers, then the legacy ones.
    const std::set<unsigned> typed = {0x3A0C, 0x3A0D, 0x3A22,
                                      0x3A23, 0x3A66, 0x3AE3};
    const std::set<unsigned> legacy = {
        0x3A01, 0x3A02, 0x3A10, 0x3A11, 0x3A20, 0x3A21, 0x3A52,
        0x3A67, 0x3A69, 0x3A71, 0x3A86, 0x3A87, 0x3A88, 0x3A89,
        0x3AA0, 0x3AA1, 0x3AA2, 0x3AA3, 0x3AAA, 0x3AAB, 0x3AB2,
        0x3AB4, 0x3ABD, 0x3ABE, 0x3AE2, 0x3AE6, 0x3AE7, 0x323D};
    auto regs = ipmi::host::registrations();
    EXPECT_EQ(regs.size(), typed.size() + legacy.size());
    for (const auto& [key, reg] : regs)
    {
        SCOPED_TRACE(key);
        EXPECT_TRUE(reg.legacy ? legacy.contains(key) : typed.contains(key));
        EXPECT_EQ(reg.prio, 10);
        if (reg.legacy)
        {
            EXPECT_EQ(reg.legacyPrivilege, 0xFF);
        }
        else
        {
            EXPECT_EQ(reg.priv, ipmi::Privilege::Admin);
        }
    }
}
