// Smart fan control: hand the fans to the PID fan controller (automatic) or
// stop it and write each PWM output's duty directly (manual), and read back
// the duty of the first eight outputs.  The mode is whether the controller's
// unit runs; the duties are what the PWM attributes hold.  Nothing is kept.
#pragma once

#include "answer.hpp"
#include "seams.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::smart_fan
{

/** The hwmon tree of the fan controller. */
struct PwmFiles
{
    virtual ~PwmFiles() = default;
    /** Whether the directory can be opened. */
    virtual bool directoryOpens(const std::string& path) = 0;
    /** Writes the text over an existing attribute; failures (no such
     *  output, a value the driver refuses) are of no consequence. */
    virtual void write(const std::string& path, const std::string& text) = 0;
    /** The attribute's first four bytes, or nothing when it cannot be read
     *  or is empty. */
    virtual std::optional<std::string> read(const std::string& path) = 0;
};

/** Percent to the driver's raw 0..255 scale, never below raw 51 (20 %): a
 *  fan must keep turning.  No upper clamp: a value above 100 % gives a raw
 *  value the driver refuses. */
unsigned percentToRaw(uint8_t percent);
uint8_t rawToPercent(int raw);

/** The controller's hwmon directory, `hwmonBase` followed by an index: the
 *  first of 0..254 that opens.  When none does, the last candidate is used
 *  and every access under it fails.  The kernel numbers hwmon devices in
 *  probe order, so the index differs from board to board and boot to
 *  boot. */
std::string findHwmonDir(PwmFiles& files, std::string_view hwmonBase);

/** Request: one duty in percent per PWM output, pwm1 first.  All zero, or
 *  none: automatic (Start of the controller).  Otherwise manual: Stop, then
 *  every byte is written; a failed Stop escapes and nothing is written. */
Answer setSmartFan(Request in, Units& units, PwmFiles& files,
                   std::string_view hwmonBase);

/** Response: the duty in percent of pwm1 to pwm8; 0x00 for an output whose
 *  attribute cannot be read; 0xFF and nothing when none can.  A text that
 *  is not a number throws std::invalid_argument.  The request bytes are
 *  ignored. */
Answer getSmartFan(Request in, PwmFiles& files, std::string_view hwmonBase);

} // namespace kestrel::smart_fan
