// Legacy C-style provider API of ipmid.  The registration function is defined
// by the ipmid executable; providers leave it undefined and resolve it when
// they are loaded.
#pragma once

#include <systemd/sd-bus.h>

#include <cstddef>

typedef unsigned char ipmi_netfn_t;
typedef unsigned char ipmi_cmd_t;
typedef void* ipmi_request_t;
typedef void* ipmi_response_t;
typedef void* ipmi_context_t;
typedef std::size_t* ipmi_data_len_t;
typedef unsigned char ipmi_ret_t;

enum CommandPrivilege
{
    PRIVILEGE_CALLBACK = 0x01,
    PRIVILEGE_USER,
    PRIVILEGE_OPERATOR,
    PRIVILEGE_ADMIN,
    PRIVILEGE_OEM,
    SYSTEM_INTERFACE = 0xFF,
};
typedef enum CommandPrivilege ipmi_cmd_privilege_t;

typedef ipmi_ret_t (*ipmid_callback_t)(ipmi_netfn_t, ipmi_cmd_t, ipmi_request_t,
                                       ipmi_response_t, ipmi_data_len_t,
                                       ipmi_context_t);

void ipmi_register_callback(ipmi_netfn_t netFn, ipmi_cmd_t cmd,
                            ipmi_context_t context, ipmid_callback_t handler,
                            ipmi_cmd_privilege_t priv);
