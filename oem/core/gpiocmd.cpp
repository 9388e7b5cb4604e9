#include "gpiocmd.hpp"

#include "dbus_names.hpp"

namespace kestrel::gpiocmd
{
namespace
{

constexpr uint8_t systemFaultLine = 0x33;
constexpr uint8_t dirInput = 0x01;
constexpr uint8_t dirOutput = 0x02;
constexpr uint8_t unknown = 0xFF; // what Get reports for a failed pass

} // namespace

Answer setGpio(Request in, GpioLines& lines, LedGroups& leds, Log& log,
               std::string_view chip)
{
    if (in.size() < 3)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    uint8_t offset = in[0];
    uint8_t direction = in[1];
    uint8_t level = in[2];

    if (offset == systemFaultLine)
    {
        log.systemFaultLed();
        leds.setAsserted(dbus::ledSystemFault, level != 0x00);
        return success({offset, direction, 0x00});
    }

    if ((direction != dirInput && direction != dirOutput) ||
        !lines.writeLine(std::string(chip), offset, setConsumer,
                         direction == dirOutput, level))
    {
        return failure(ipmi::ccInvalidFieldRequest);
    }
    return success({offset, direction, level});
}

Answer getGpio(Request in, GpioLines& lines, std::string_view chip)
{
    if (in.size() < 1)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    uint8_t offset = in[0];
    std::string chipPath(chip);
    // Direction and level come from two separate requests of the line.
    int direction = lines.readLine(chipPath, offset, getConsumer,
                                   GpioLines::Read::direction);
    uint8_t directionByte = (direction == dirInput || direction == dirOutput)
                                ? static_cast<uint8_t>(direction)
                                : unknown;
    int value =
        lines.readLine(chipPath, offset, getConsumer, GpioLines::Read::value);
    uint8_t valueByte =
        (value == 0 || value == 1) ? static_cast<uint8_t>(value) : unknown;
    return success({offset, 0x01, directionByte, valueByte});
}

} // namespace kestrel::gpiocmd
