// Conventions shared by the command groups of libkestrelipmi.
#pragma once

// The library is built with hidden visibility; only its documented interface
// (constructors, handlers, helper operations and state variables) is exported.
#define KESTREL_EXPORT __attribute__((visibility("default")))

// Constructor priorities: the loader runs the command groups' constructors in
// this order, whatever the link order of their files.
#define KESTREL_CTOR_BIOS_POST_STATUS 201
#define KESTREL_CTOR_BMC_INTERFACE 202
#define KESTREL_CTOR_BOOT_COMPLETE 203
#define KESTREL_CTOR_CHASSIS_ID 204
#define KESTREL_CTOR_CHASSIS_INTR 205
#define KESTREL_CTOR_FAN_INIT_DUTY 206
#define KESTREL_CTOR_FW_VERSION 207
#define KESTREL_CTOR_GPIOCMD 208
#define KESTREL_CTOR_MAC_ADDR 209
#define KESTREL_CTOR_MASTER_WRITEREAD 210
#define KESTREL_CTOR_MISC 211
#define KESTREL_CTOR_MONITOR_INTR 212
#define KESTREL_CTOR_NCSI_SELECT 213
#define KESTREL_CTOR_NETWORK_INTERFACE 214
#define KESTREL_CTOR_REG_VALUE 215
#define KESTREL_CTOR_RESTORE_DEFAULT 216
#define KESTREL_CTOR_SMART_FAN 217
#define KESTREL_CTOR_SPEAKER_FUNC 218
#define KESTREL_CTOR_SSH_LOGIN 219
#define KESTREL_CTOR_UID_EXRST_VERIFY 220
