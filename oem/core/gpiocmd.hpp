// GPIO get and set: raw access to the lines of the service processor's first
// GPIO controller, by line offset.  Offset 0x33 on Set is not a GPIO: it
// asserts or deasserts the system-fault LED group.
#pragma once

#include "answer.hpp"
#include "seams.hpp"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::gpiocmd
{

inline constexpr auto getConsumer = "ipmiget";
inline constexpr auto setConsumer = "ipmiset";

/** GPIO lines, each access a pass of its own: open the chip, look the line
 *  up, request it for `consumer`, act, and close the chip again, so no line
 *  stays requested between requests. */
struct GpioLines
{
    enum class Read
    {
        direction,
        value,
    };
    virtual ~GpioLines() = default;
    /** Requests the line without changing its direction and answers what
     *  libgpiod reports for `what` (direction 1 input, 2 output; value 0 or
     *  1); -1 when the chip, the line or the request failed. */
    virtual int readLine(const std::string& chip, uint8_t offset,
                         const std::string& consumer, Read what) = 0;
    /** Requests the line as an output (starting low) or an input and drives
     *  `level` onto it, then releases it; false when the chip, the line or
     *  the request failed. */
    virtual bool writeLine(const std::string& chip, uint8_t offset,
                           const std::string& consumer, bool output,
                           uint8_t level) = 0;
};

/** The journal entry Set writes before it switches the system-fault LED. */
struct Log
{
    virtual ~Log() = default;
    virtual void systemFaultLed() = 0;
};

/** Request: offset, direction (0x01 input, 0x02 output), level; more bytes
 *  are ignored.  Response: the three bytes back.  A direction of neither
 *  kind, or a line that cannot be reached, answers 0xCC.  Offset 0x33 logs,
 *  asserts the system-fault LED for any non-zero level, and answers offset,
 *  direction, 0x00 whatever the direction. */
Answer setGpio(Request in, GpioLines& lines, LedGroups& leds, Log& log,
               std::string_view chip);

/** Request: offset; more bytes are ignored.  Response: offset, 0x01, the
 *  direction and the level, each 0xFF when its pass failed. */
Answer getGpio(Request in, GpioLines& lines, std::string_view chip);

} // namespace kestrel::gpiocmd
