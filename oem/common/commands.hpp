// NetFn and command numbers of the library's commands, and the subcommand
// numbers of the Misc command.
#pragma once

#include <cstdint>

namespace kestrel::cmd
{

// The board's OEM NetFn, and the NetFn of Get BMC Interface.
inline constexpr uint8_t netFnKestrel = 0x3A;
inline constexpr uint8_t netFnBmcInterface = 0x32;

// NetFn 0x3A.
inline constexpr uint8_t setSmartFan = 0x01;
inline constexpr uint8_t getSmartFan = 0x02;
inline constexpr uint8_t setFanInitDuty = 0x0C;
inline constexpr uint8_t getFanInitDuty = 0x0D;
inline constexpr uint8_t setGpio = 0x10;
inline constexpr uint8_t getGpio = 0x11;
inline constexpr uint8_t setNcsiSelect = 0x20;
inline constexpr uint8_t getNcsiSelect = 0x21;
inline constexpr uint8_t sshControlSet = 0x22;
inline constexpr uint8_t sshControlGet = 0x23;
inline constexpr uint8_t masterWriteRead = 0x52;
inline constexpr uint8_t restoreDefault = 0x66;
inline constexpr uint8_t getBootComplete = 0x67;
inline constexpr uint8_t uidExrstVerify = 0x69;
inline constexpr uint8_t setNetworkIntf = 0x71;
inline constexpr uint8_t setRevRecord = 0x86;
inline constexpr uint8_t getRevRecord = 0x87;
inline constexpr uint8_t setChassisIntr = 0x88;
inline constexpr uint8_t getChassisIntr = 0x89;
inline constexpr uint8_t setMacAddr = 0xA0;
inline constexpr uint8_t getMacAddr = 0xA1;
inline constexpr uint8_t setRegValue = 0xA2;
inline constexpr uint8_t getRegValue = 0xA3;
inline constexpr uint8_t setChassisId = 0xAA;
inline constexpr uint8_t getChassisId = 0xAB;
inline constexpr uint8_t setBiosFwInfo = 0xB2;
inline constexpr uint8_t setSpeakerFunc = 0xB4;
inline constexpr uint8_t setBiosPostStatus = 0xBD;
inline constexpr uint8_t getBiosPostStatus = 0xBE;
inline constexpr uint8_t getMacInfo = 0xE2;
inline constexpr uint8_t misc = 0xE3;
inline constexpr uint8_t setMonitor = 0xE6;
inline constexpr uint8_t getMonitor = 0xE7;

// NetFn 0x32.
inline constexpr uint8_t getBmcInterface = 0x3D;

// Subcommands of the Misc command (the first request byte).
inline constexpr uint8_t miscJedecId = 0x43;
inline constexpr uint8_t miscWakeOnLan = 0xB0;

} // namespace kestrel::cmd
