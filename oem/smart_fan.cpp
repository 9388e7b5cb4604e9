// Smart fan control: hand the fans to the PID fan controller (automatic) or
// stop it and write each PWM output's duty directly (manual), and read back
// the duty of the first eight outputs.  The mode is whether the controller's
// unit runs; the duties are what the PWM attributes hold.  Nothing is kept.
#include "dbus_ops.hpp"
#include "kestrel.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <ipmid/api.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace
{

constexpr ipmi_netfn_t netFnKestrel = 0x3A;
constexpr ipmi_cmd_t cmdSetSmartFan = 0x01;
constexpr ipmi_cmd_t cmdGetSmartFan = 0x02;

constexpr auto hwmonBase = "/sys/bus/platform/drivers/aspeed_pwm_tacho/"
                           "1e786000.pwm-tacho-controller/hwmon/hwmon";
// The kernel numbers hwmon devices in probe order, so the index differs
// from board to board and boot to boot.
constexpr int hwmonIndexCount = 255;
constexpr std::size_t reportedOutputs = 8;

// Manual duty never goes below 20 % (raw 51): a fan must keep turning.
constexpr unsigned minimumRaw = 51;
constexpr unsigned minimumRawProduct = 5099;

/** Percent to the driver's raw 0..255 scale.  No upper clamp: a value above
 *  100 % gives a raw value the driver refuses. */
unsigned percentToRaw(uint8_t percent)
{
    unsigned product = percent * 255U;
    return product <= minimumRawProduct ? minimumRaw : product / 100;
}

uint8_t rawToPercent(int raw)
{
    return static_cast<uint8_t>(raw * 100 / 255);
}

/** The controller's hwmon directory: the first index that opens.  When none
 *  does, the last candidate is used and every access under it fails. */
std::string findHwmonDir()
{
    std::string candidate;
    for (int index = 0; index < hwmonIndexCount; ++index)
    {
        candidate = hwmonBase + std::to_string(index);
        if (DIR* dir = ::opendir(candidate.c_str()))
        {
            ::closedir(dir);
            break;
        }
    }
    return candidate;
}

std::string pwmPath(const std::string& hwmonDir, std::size_t output)
{
    return hwmonDir + "/pwm" + std::to_string(output);
}

/** Writes the raw value as bare decimal text into an existing attribute.
 *  Failures are of no consequence: the output does not exist or the driver
 *  refused the value.  sysfs ignores the truncation; a plain file standing
 *  in for the attribute then holds just the new value, as the attribute
 *  would. */
void writePwm(const std::string& path, unsigned raw)
{
    int fd = ::open(path.c_str(), O_RDWR | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
    {
        return;
    }
    std::string text = std::to_string(raw);
    [[maybe_unused]] ssize_t written = ::write(fd, text.data(), text.size());
    ::close(fd);
}

/** The attribute's first four bytes, or nothing when it cannot be read. */
std::optional<std::string> readPwm(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        return std::nullopt;
    }
    std::array<char, 4> buffer{};
    ssize_t n = ::read(fd, buffer.data(), buffer.size());
    ::close(fd);
    if (n <= 0)
    {
        return std::nullopt;
    }
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

} // namespace

extern "C" {

/** Request: one duty in percent per PWM output, pwm1 first.  All zero, or
 *  none: automatic.  Otherwise manual, and every byte is applied. */
KESTREL_EXPORT ipmi_ret_t ipmiSetSmartFan(ipmi_netfn_t, ipmi_cmd_t,
                                          ipmi_request_t request,
                                          ipmi_response_t,
                                          ipmi_data_len_t dataLen,
                                          ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    const auto* duty = static_cast<const uint8_t*>(request);
    bool manual = std::any_of(duty, duty + length,
                              [](uint8_t percent) { return percent != 0; });
    if (!manual)
    {
        kestrel::dbus::startStopUnit(kestrel::dbus::unitFanControl, "Start");
        return ipmi::ccSuccess;
    }

    // The controller is told to stop before any duty is written, so that it
    // does not overwrite them; a failed Stop throws and nothing is written.
    kestrel::dbus::startStopUnit(kestrel::dbus::unitFanControl, "Stop");
    std::string hwmonDir = findHwmonDir();
    for (std::size_t k = 1; k <= length; ++k)
    {
        writePwm(pwmPath(hwmonDir, k), percentToRaw(duty[k - 1]));
    }
    return ipmi::ccSuccess;
}

/** Response: the duty in percent of pwm1 to pwm8; 0x00 for an output whose
 *  attribute cannot be read.  A text that is not a number throws (the
 *  daemon answers its error response). */
KESTREL_EXPORT ipmi_ret_t ipmiGetSmartFan(ipmi_netfn_t, ipmi_cmd_t,
                                          ipmi_request_t,
                                          ipmi_response_t response,
                                          ipmi_data_len_t dataLen,
                                          ipmi_context_t)
{
    std::string hwmonDir = findHwmonDir();
    auto* out = static_cast<uint8_t*>(response);
    std::size_t readable = 0;
    for (std::size_t k = 1; k <= reportedOutputs; ++k)
    {
        auto text = readPwm(pwmPath(hwmonDir, k));
        out[k - 1] = text ? rawToPercent(std::stoi(*text)) : 0;
        readable += text ? 1 : 0;
    }
    if (readable == 0)
    {
        // No controller found: there is no duty to report.
        *dataLen = 0;
        return ipmi::ccUnspecifiedError;
    }
    *dataLen = reportedOutputs;
    return ipmi::ccSuccess;
}

KESTREL_EXPORT void register_netfn_oem_smart_fan()
    __attribute__((constructor(KESTREL_CTOR_SMART_FAN)));

void register_netfn_oem_smart_fan()
{
    ipmi_register_callback(netFnKestrel, cmdSetSmartFan, nullptr,
                           ipmiSetSmartFan, SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, cmdGetSmartFan, nullptr,
                           ipmiGetSmartFan, SYSTEM_INTERFACE);
}

} // extern "C"
