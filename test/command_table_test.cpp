// The command table as ipmid sees it after loading libkestrelipmi: exactly
// the commands built so far, each with its style, privilege and priority.
#include "host.hpp"
#include "provider.hpp"
#include "sandbox.hpp"

#include <dlfcn.h>

#include <map>
#include <string>

#include <gtest/gtest.h>

namespace
{

struct Expected
{
    const char* handler;
    bool legacy;
};

// Key (netFn << 8) | cmd.
const std::map<unsigned, Expected> expectedTable = {
    {0x3A01, {"ipmiSetSmartFan", true}},
    {0x3A02, {"ipmiGetSmartFan", true}},
    {0x3A0C,
     {"_Z18ipmiSetFanInitDutyRSt10shared_ptrIN4ipmi7ContextEESt6vectorIhSaIhEE",
      false}},
    {0x3A0D, {"_Z18ipmiGetFanInitDutyRSt10shared_ptrIN4ipmi7ContextEE", false}},
    {0x3A10, {"ipmiSetGPIOHL", true}},
    {0x3A11, {"ipmiGetGPIOHL", true}},
    {0x3A88, {"ipmiSetChassisIntr", true}},
    {0x3A89, {"ipmiGetChassisIntr", true}},
    {0x3AE6, {"ipmiSetMonitor", true}},
    {0x3AE7, {"ipmiGetMonitor", true}},
    {0x3A20, {"ipmiSetNcsiSelect", true}},
    {0x3A21, {"ipmiGetNcsiSelect", true}},
    {0x3A22,
     {"_Z17ipmiSshControlSetRSt10shared_ptrIN4ipmi7ContextEEhh", false}},
    {0x3A23, {"_Z17ipmiSshControlGetRSt10shared_ptrIN4ipmi7ContextEEh", false}},
    {0x3A52, {"ipmiMasterWriteRead", true}},
    {0x3A86, {"ipmiSetRevRecord", true}},
    {0x3A87, {"ipmiGetRevRecord", true}},
    {0x3A66,
     {"_Z18ipmiRestoreDefaultRSt10shared_ptrIN4ipmi7ContextEESt8optionalIhE",
      false}},
    {0x3A67, {"ipmiGetBootComplete", true}},
    {0x3A69, {"ipmiUIDExrstVerify", true}},
    {0x3A71, {"ipmiSeNetworkIntf", true}},
    {0x3AA0, {"ipmiSetMacAddr", true}},
    {0x3AA1, {"ipmiGetMacAddr", true}},
    {0x3AA2, {"ipmiSetRegValue", true}},
    {0x3AA3, {"ipmiGetRegValue", true}},
    {0x3AAA, {"ipmiSetChassisId", true}},
    {0x3AAB, {"ipmiGetChassisId", true}},
    {0x3ABD, {"ipmiSetBiosPostStatus", true}},
    {0x3AB2, {"ipmiSetBiosFwInfo", true}},
    {0x3AB4, {"ipmiSetSpeakerFunc", true}},
    {0x3ABE, {"ipmiGetBiosPostStatus", true}},
    {0x3AE2, {"ipmiGetMacInfo", true}},
    {0x3AE3,
     {"_Z11ipmiMiscCmdRSt10shared_ptrIN4ipmi7ContextEEhSt6vectorIhSaIhEE",
      false}},
    {0x323D, {"ipmiGetBmcInterface", true}},
};

class CommandTableTest : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        // Before the one load of the process, so the table holds exactly
        // what the library's constructors register.
        ipmi::host::clearRegistry();
        library = kestrel::test::kestrelProvider();
        ASSERT_NE(library, nullptr);
    }

    static inline void* library = nullptr;
};

TEST_F(CommandTableTest, RegistersExactlyTheTableWithItsPrivilegeAndPriority)
{
    auto regs = ipmi::host::registrations();
    ASSERT_EQ(regs.size(), expectedTable.size());
    for (const auto& [key, expected] : expectedTable)
    {
        SCOPED_TRACE(expected.handler);
        auto it = regs.find(key);
        ASSERT_NE(it, regs.end());
        EXPECT_EQ(it->second.legacy, expected.legacy);
        EXPECT_EQ(it->second.prio, 10);
        if (expected.legacy)
        {
            EXPECT_EQ(it->second.legacyPrivilege, 0xFF);
        }
        else
        {
            EXPECT_EQ(it->second.priv, ipmi::Privilege::Admin);
        }
        // Every handler is part of the library's exported interface.
        EXPECT_NE(::dlsym(library, expected.handler), nullptr);
    }
}

TEST_F(CommandTableTest, ExportsConstructorsAndStateVariables)
{
    for (const char* name :
         {"register_netfn_oem_bios_post_status",
          "register_netfn_oem_bmc_interface",
          "register_netfn_oem_boot_complete", "register_netfn_oem_chassis_id",
          "register_netfn_oem_fw_version", "register_netfn_oem_smart_fan",
          "register_netfn_oem_fan_init_duty", "register_netfn_oem_chassis_intr",
          "register_netfn_oem_monitor_intr", "register_netfn_oem_gpiocmd",
          "register_netfn_oem_misc", "register_netfn_oem_mac_addr",
          "register_netfn_oem_ncsi_select",
          "register_netfn_oem_network_interface", "macoffset", "updateMacType",
          "updateMacChannel", "register_netfn_oem_ssh_login",
          "register_netfn_oem_restore_default", "hbled_off", "factory_reset",
          "delay_shutdown", "register_netfn_oem_master_writeread",
          "register_netfn_oem_reg_value", "register_netfn_oem_speaker_func",
          "register_netfn_oem_uid_exrst_verify", "BiosPostStatus",
          "SpeakerLongBeep", "SpeakerShortBeep", "DOSoundTASK", "FwVer",
          // Exported, reachable by name only: no command number leads here.
          "ipmiGarp", "ipmiPiromCmd", "read_jedec_id", "ipmiSetAM5SpecCPU",
          "ipmiGetAM5SpecCPU", "updateVirtualSensorTjmax", "cpu_detection",
          "_Z11ipmiJedecIdRSt10shared_ptrIN4ipmi7ContextEESt6vectorIhSaIhEE",
          "_Z13ipmiWakeOnLanRSt10shared_ptrIN4ipmi7ContextEESt6vectorIhSaIhEE",
          "_ZN4ipmi20performSystemdMethodERSt10shared_ptrINS_7ContextEERKNSt7__"
          "cxx1112basic_stringIcSt11char_traitsIcESaIcEEESB_",
          "_ZN4ipmi26performSystemdDaemonReloadERSt10shared_ptrINS_7ContextEE"})
    {
        EXPECT_NE(::dlsym(library, name), nullptr) << name;
    }
    // Internal helpers stay hidden.
    EXPECT_EQ(::dlsym(library,
                      "_ZN7kestrel4dbus19getLedGroupAssertedERKNSt7__"
                      "cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"),
              nullptr);
}

} // namespace
