// GPIO get and set: raw access to the lines of the service processor's first
// GPIO controller, by line offset.  Every access opens the chip and closes
// it again before the handler returns, so no line stays requested between
// requests.  Offset 0x33 on Set is not a GPIO: it asserts or deasserts the
// system-fault LED group.
#include "dbus_ops.hpp"
#include "kestrel.hpp"

#include <gpiod.h>

#include <ipmid/api.hpp>
#include <phosphor-logging/log.hpp>

#include <cstdint>
#include <memory>

using phosphor::logging::level;
using phosphor::logging::log;

namespace
{

constexpr ipmi_netfn_t netFnKestrel = 0x3A;
constexpr ipmi_cmd_t cmdSetGpio = 0x10;
constexpr ipmi_cmd_t cmdGetGpio = 0x11;

constexpr auto gpioChip = "/dev/gpiochip0";
constexpr auto getConsumer = "ipmiget";
constexpr auto setConsumer = "ipmiset";

constexpr uint8_t systemFaultLine = 0x33;
constexpr uint8_t dirInput = 0x01;  // GPIOD_LINE_DIRECTION_INPUT
constexpr uint8_t dirOutput = 0x02; // GPIOD_LINE_DIRECTION_OUTPUT
constexpr uint8_t unknown = 0xFF;   // what Get reports for a failed step

struct ChipCloser
{
    void operator()(gpiod_chip* chip) const
    {
        gpiod_chip_close(chip);
    }
};
using Chip = std::unique_ptr<gpiod_chip, ChipCloser>;

// Opens the chip into `chip` and looks the line up on it: null when
// either fails.  Closing the chip releases the line.
gpiod_line* findLine(Chip& chip, uint8_t offset)
{
    chip.reset(gpiod_chip_open(gpioChip));
    return chip ? gpiod_chip_get_line(chip.get(), offset) : nullptr;
}

// One pass of Get: open the chip, request the line without changing its
// direction, return what `read` reports, close the chip (which releases the
// line).  -1 when the line cannot be reached or requested.
int readLine(uint8_t offset, int (*read)(gpiod_line*))
{
    Chip chip;
    gpiod_line* line = findLine(chip, offset);
    gpiod_line_request_config config{getConsumer,
                                     GPIOD_LINE_REQUEST_DIRECTION_AS_IS, 0};
    if (line == nullptr || gpiod_line_request(line, &config, 0) != 0)
    {
        return -1;
    }
    return read(line);
}

// Requests the line with the given direction and drives `level` onto it
// (any non-zero level is high).  An output request starts the line low;
// on an input line the level has no effect.  False when the chip, the line
// or the request failed.
bool writeLine(uint8_t offset, uint8_t direction, uint8_t level)
{
    Chip chip;
    gpiod_line* line = findLine(chip, offset);
    if (line == nullptr)
    {
        return false;
    }
    gpiod_line_request_config config{
        setConsumer,
        direction == dirOutput ? GPIOD_LINE_REQUEST_DIRECTION_OUTPUT
                               : GPIOD_LINE_REQUEST_DIRECTION_INPUT,
        0};
    bool requested = gpiod_line_request(line, &config, 0) == 0;
    if (requested)
    {
        // Refused only on an input line, where there is nothing to drive.
        [[maybe_unused]] int rc = gpiod_line_set_value(line, level);
    }
    gpiod_line_release(line);
    return requested;
}

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiSetGPIOHL(ipmi_netfn_t, ipmi_cmd_t,
                                        ipmi_request_t request,
                                        ipmi_response_t response,
                                        ipmi_data_len_t dataLen,
                                        ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    const auto* in = static_cast<const uint8_t*>(request);
    if (in == nullptr || length < 3)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    uint8_t offset = in[0];
    uint8_t direction = in[1];
    uint8_t level = in[2];
    auto* out = static_cast<uint8_t*>(response);

    if (offset == systemFaultLine)
    {
        log<level::ERR>("ipmiSetGPIOHL x5");
        kestrel::dbus::setLedGroupAsserted(kestrel::dbus::ledSystemFault,
                                           level != 0x00);
        out[0] = offset;
        out[1] = direction;
        out[2] = 0x00;
        *dataLen = 3;
        return ipmi::ccSuccess;
    }

    if ((direction != dirInput && direction != dirOutput) ||
        !writeLine(offset, direction, level))
    {
        return ipmi::ccInvalidFieldRequest;
    }
    out[0] = offset;
    out[1] = direction;
    out[2] = level;
    *dataLen = 3;
    return ipmi::ccSuccess;
}

KESTREL_EXPORT ipmi_ret_t ipmiGetGPIOHL(ipmi_netfn_t, ipmi_cmd_t,
                                        ipmi_request_t request,
                                        ipmi_response_t response,
                                        ipmi_data_len_t dataLen,
                                        ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    const auto* in = static_cast<const uint8_t*>(request);
    if (in == nullptr || length < 1)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    uint8_t offset = in[0];
    auto* out = static_cast<uint8_t*>(response);
    out[0] = offset;
    out[1] = 0x01;
    // Direction and level come from two separate requests of the line.
    int direction = readLine(offset, gpiod_line_direction);
    out[2] = (direction == dirInput || direction == dirOutput)
                 ? static_cast<uint8_t>(direction)
                 : unknown;
    int value = readLine(offset, gpiod_line_get_value);
    out[3] = (value == 0 || value == 1) ? static_cast<uint8_t>(value) : unknown;
    *dataLen = 4;
    return ipmi::ccSuccess;
}

KESTREL_EXPORT void register_netfn_oem_gpiocmd()
    __attribute__((constructor(KESTREL_CTOR_GPIOCMD)));

void register_netfn_oem_gpiocmd()
{
    ipmi_register_callback(netFnKestrel, cmdSetGpio, nullptr, ipmiSetGPIOHL,
                           SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, cmdGetGpio, nullptr, ipmiGetGPIOHL,
                           SYSTEM_INTERFACE);
}

} // extern "C"
