#include "garp_wol.hpp"

#include <cstdint>

namespace kestrel::garp_wol
{
namespace
{

constexpr uint8_t opSet = 0x00;
constexpr uint8_t opGet = 0x01;

constexpr auto garpSection = "GARP";
constexpr auto wakeOnLanSection = "WakeOnLan";
constexpr auto enabledKey = "Enabled";

// The low byte of what is stored.
Answer storedSetting(Settings& settings, const char* section)
{
    return success(
        {static_cast<uint8_t>(settings.get(section, enabledKey, 0))});
}

} // namespace

Answer garp(Request in, Settings& settings)
{
    if (in.size() < 2)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    switch (in[1])
    {
        case opSet:
            if (in.size() < 3)
            {
                return failure(ipmi::ccReqDataLenInvalid);
            }
            settings.set(garpSection, enabledKey, in[2]);
            return success();
        case opGet:
            return storedSetting(settings, garpSection);
        default:
            return failure(ipmi::ccInvalidCommand);
    }
}

Answer wakeOnLan(Request in, Settings& settings)
{
    if (in.size() == 2 && in[0] == opSet)
    {
        settings.set(wakeOnLanSection, enabledKey, in[1]);
        return success();
    }
    if (in.size() == 1 && in[0] == opGet)
    {
        return storedSetting(settings, wakeOnLanSection);
    }
    return failure(ipmi::ccInvalidFieldRequest);
}

} // namespace kestrel::garp_wol
