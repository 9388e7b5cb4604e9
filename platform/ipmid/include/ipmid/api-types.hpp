#pragma once

#include <cstdint>
#include <optional>
#include <tuple>

namespace ipmi
{

using NetFn = uint8_t;
using Cmd = uint8_t;
using Cc = uint8_t;
using Group = uint8_t;
using Iana = uint32_t;

constexpr Group groupPICMG = 0x00;
constexpr Group groupDMTG = 0x01;
constexpr Group groupSSI = 0x02;
constexpr Group groupVSO = 0x03;
constexpr Group groupDCMI = 0xDC;

constexpr int prioOpenBmcBase = 10;
constexpr int prioOemBase = 20;
constexpr int prioOdmBase = 30;
constexpr int prioCustomBase = 40;
constexpr int prioMax = 50;

constexpr int channelPrimaryIpmb = 0x00;
constexpr int channelCurrentIface = 0x0E;
constexpr int channelSystemIface = 0x0F;

enum class Privilege : uint8_t
{
    None = 0x00,
    Callback,
    User,
    Operator,
    Admin,
    Oem,
};

constexpr NetFn netFnChassis = 0x00;
constexpr NetFn netFnBridge = 0x02;
constexpr NetFn netFnSensor = 0x04;
constexpr NetFn netFnApp = 0x06;
constexpr NetFn netFnFirmware = 0x08;
constexpr NetFn netFnStorage = 0x0A;
constexpr NetFn netFnTransport = 0x0C;
constexpr NetFn netFnGroup = 0x2C;
constexpr NetFn netFnOem = 0x2E;
constexpr NetFn netFnOemOne = 0x30;
constexpr NetFn netFnOemTwo = 0x32;
constexpr NetFn netFnOemThree = 0x34;
constexpr NetFn netFnOemFour = 0x36;
constexpr NetFn netFnOemFive = 0x38;
constexpr NetFn netFnOemSix = 0x3A;
constexpr NetFn netFnOemSeven = 0x3C;
constexpr NetFn netFnOemEight = 0x3E;

constexpr Cmd cmdWildcard = 0xFF;

constexpr Cc ccSuccess = 0x00;
constexpr Cc ccBusy = 0xC0;
constexpr Cc ccInvalidCommand = 0xC1;
constexpr Cc ccInvalidCommandOnLun = 0xC2;
constexpr Cc ccTimeout = 0xC3;
constexpr Cc ccOutOfSpace = 0xC4;
constexpr Cc ccInvalidReservationId = 0xC5;
constexpr Cc ccReqDataTruncated = 0xC6;
constexpr Cc ccReqDataLenInvalid = 0xC7;
constexpr Cc ccReqDataLenExceeded = 0xC8;
constexpr Cc ccParmOutOfRange = 0xC9;
constexpr Cc ccRetBytesUnavailable = 0xCA;
constexpr Cc ccSensorInvalid = 0xCB;
constexpr Cc ccInvalidFieldRequest = 0xCC;
constexpr Cc ccIllegalCommand = 0xCD;
constexpr Cc ccResponseError = 0xCE;
constexpr Cc ccDuplicateRequest = 0xCF;
constexpr Cc ccCmdFailSdrMode = 0xD0;
constexpr Cc ccCmdFailFwUpdMode = 0xD1;
constexpr Cc ccCmdFailInitAgent = 0xD2;
constexpr Cc ccDestinationUnavailable = 0xD3;
constexpr Cc ccInsufficientPrivilege = 0xD4;
constexpr Cc ccCommandNotAvailable = 0xD5;
constexpr Cc ccCommandDisabled = 0xD6;
constexpr Cc ccUnspecifiedError = 0xFF;

template <typename... RetTypes>
using RspType = std::tuple<ipmi::Cc, std::optional<std::tuple<RetTypes...>>>;

// The arguments are copied, as in libipmid: the result converts to the
// handler's declared RspType.
template <typename... Args>
static inline auto response(ipmi::Cc cc, Args&&... args)
{
    return std::make_tuple(cc, std::make_optional(std::make_tuple(args...)));
}

static inline auto response(ipmi::Cc cc)
{
    return std::make_tuple(cc, std::nullopt);
}

template <typename... Args>
static inline auto responseSuccess(Args&&... args)
{
    return response(ccSuccess, args...);
}

static inline auto responseSuccess()
{
    return response(ccSuccess);
}

#define KESTREL_IPMI_NODATA_RESPONSE(name, code)                               \
    static inline auto name()                                                  \
    {                                                                          \
        return response(code);                                                 \
    }

KESTREL_IPMI_NODATA_RESPONSE(responseBusy, ccBusy)
KESTREL_IPMI_NODATA_RESPONSE(responseInvalidCommand, ccInvalidCommand)
KESTREL_IPMI_NODATA_RESPONSE(responseInvalidCommandOnLun, ccInvalidCommandOnLun)
KESTREL_IPMI_NODATA_RESPONSE(responseTimeout, ccTimeout)
KESTREL_IPMI_NODATA_RESPONSE(responseOutOfSpace, ccOutOfSpace)
KESTREL_IPMI_NODATA_RESPONSE(responseInvalidReservationId,
                             ccInvalidReservationId)
KESTREL_IPMI_NODATA_RESPONSE(responseReqDataTruncated, ccReqDataTruncated)
KESTREL_IPMI_NODATA_RESPONSE(responseReqDataLenInvalid, ccReqDataLenInvalid)
KESTREL_IPMI_NODATA_RESPONSE(responseReqDataLenExceeded, ccReqDataLenExceeded)
KESTREL_IPMI_NODATA_RESPONSE(responseParmOutOfRange, ccParmOutOfRange)
KESTREL_IPMI_NODATA_RESPONSE(responseRetBytesUnavailable, ccRetBytesUnavailable)
KESTREL_IPMI_NODATA_RESPONSE(responseSensorInvalid, ccSensorInvalid)
KESTREL_IPMI_NODATA_RESPONSE(responseInvalidFieldRequest, ccInvalidFieldRequest)
KESTREL_IPMI_NODATA_RESPONSE(responseIllegalCommand, ccIllegalCommand)
KESTREL_IPMI_NODATA_RESPONSE(responseResponseError, ccResponseError)
KESTREL_IPMI_NODATA_RESPONSE(responseDuplicateRequest, ccDuplicateRequest)
KESTREL_IPMI_NODATA_RESPONSE(responseCmdFailSdrMode, ccCmdFailSdrMode)
KESTREL_IPMI_NODATA_RESPONSE(responseCmdFailFwUpdMode, ccCmdFailFwUpdMode)
KESTREL_IPMI_NODATA_RESPONSE(responseCmdFailInitAgent, ccCmdFailInitAgent)
KESTREL_IPMI_NODATA_RESPONSE(responseDestinationUnavailable,
                             ccDestinationUnavailable)
KESTREL_IPMI_NODATA_RESPONSE(responseInsufficientPrivilege,
                             ccInsufficientPrivilege)
KESTREL_IPMI_NODATA_RESPONSE(responseCommandNotAvailable, ccCommandNotAvailable)
KESTREL_IPMI_NODATA_RESPONSE(responseCommandDisabled, ccCommandDisabled)
KESTREL_IPMI_NODATA_RESPONSE(responseUnspecifiedError, ccUnspecifiedError)

#undef KESTREL_IPMI_NODATA_RESPONSE

} // namespace ipmi
