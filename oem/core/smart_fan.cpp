#include "smart_fan.hpp"

#include "dbus_names.hpp"

#include <algorithm>

namespace kestrel::smart_fan
{
namespace
{

constexpr int hwmonIndexCount = 255;
constexpr std::size_t reportedOutputs = 8;

constexpr unsigned minimumRaw = 51;
constexpr unsigned minimumRawProduct = 5099;

// Paths are built by appending: adding two temporary strings instantiates a
// libstdc++ operator+ that the library would export.
std::string pwmPath(const std::string& hwmonDir, std::size_t output)
{
    std::string path = hwmonDir;
    path += "/pwm";
    path += std::to_string(output);
    return path;
}

} // namespace

unsigned percentToRaw(uint8_t percent)
{
    unsigned product = percent * 255U;
    return product <= minimumRawProduct ? minimumRaw : product / 100;
}

uint8_t rawToPercent(int raw)
{
    return static_cast<uint8_t>(raw * 100 / 255);
}

std::string findHwmonDir(PwmFiles& files, std::string_view hwmonBase)
{
    std::string candidate;
    for (int index = 0; index < hwmonIndexCount; ++index)
    {
        candidate.assign(hwmonBase);
        candidate += std::to_string(index);
        if (files.directoryOpens(candidate))
        {
            break;
        }
    }
    return candidate;
}

Answer setSmartFan(Request in, Units& units, PwmFiles& files,
                   std::string_view hwmonBase)
{
    bool manual = std::any_of(in.begin(), in.end(),
                              [](uint8_t percent) { return percent != 0; });
    if (!manual)
    {
        units.startStop(dbus::unitFanControl, "Start");
        return success();
    }

    // The controller is told to stop before any duty is written, so that it
    // does not overwrite them.
    units.startStop(dbus::unitFanControl, "Stop");
    std::string hwmonDir = findHwmonDir(files, hwmonBase);
    for (std::size_t k = 1; k <= in.size(); ++k)
    {
        files.write(pwmPath(hwmonDir, k),
                    std::to_string(percentToRaw(in[k - 1])));
    }
    return success();
}

Answer getSmartFan(Request, PwmFiles& files, std::string_view hwmonBase)
{
    std::string hwmonDir = findHwmonDir(files, hwmonBase);
    Bytes duties(reportedOutputs, 0x00);
    std::size_t readable = 0;
    for (std::size_t k = 1; k <= reportedOutputs; ++k)
    {
        if (auto text = files.read(pwmPath(hwmonDir, k)))
        {
            duties[k - 1] = rawToPercent(std::stoi(*text));
            ++readable;
        }
    }
    if (readable == 0)
    {
        // No controller found: there is no duty to report.
        return failure(ipmi::ccUnspecifiedError);
    }
    return success(std::move(duties));
}

} // namespace kestrel::smart_fan
