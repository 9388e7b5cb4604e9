#include "am5_cpu.hpp"

namespace kestrel::am5_cpu
{
namespace
{

constexpr std::size_t setRequestLength = 2;
constexpr uint8_t lastCpuClass = 0x01;
// TJMAX in degrees Celsius, by CPU class.
constexpr int tjmaxByClass[lastCpuClass + 1] = {95, 89};

} // namespace

std::optional<int> tjmaxOfClass(uint8_t cpuClass)
{
    if (cpuClass > lastCpuClass)
    {
        return std::nullopt;
    }
    return tjmaxByClass[cpuClass];
}

// Iterating a JSON value visits an array's elements, an object's values, or
// a single value itself.
void setTjmax(nlohmann::json& config, int tjmax)
{
    for (auto& sensor : config)
    {
        if (!sensor.is_object())
        {
            continue;
        }
        auto params = sensor.find("Params");
        if (params == sensor.end() || !params->is_object())
        {
            continue;
        }
        auto constParams = params->find("ConstParam");
        if (constParams == params->end())
        {
            continue;
        }
        for (auto& param : *constParams)
        {
            if (!param.is_object())
            {
                continue;
            }
            auto name = param.find("ParamName");
            if (name != param.end() && *name == "TJMAX")
            {
                param["Value"] = tjmax;
            }
        }
    }
}

std::optional<std::string> rewriteConfig(const std::string& text, int tjmax)
{
    try
    {
        auto config = nlohmann::json::parse(text);
        setTjmax(config, tjmax);
        return config.dump(4);
    }
    catch (const nlohmann::json::exception&)
    {
        return std::nullopt;
    }
}

int updateTjmax(int tjmax, const std::string& configPath, ConfigFile& file,
                ConfigLog& log)
{
    auto text = file.read(configPath);
    if (!text)
    {
        return -1;
    }
    // Serialised before the file is touched: an error leaves it as it was.
    auto rewritten = rewriteConfig(*text, tjmax);
    if (!rewritten)
    {
        log.parseFailed();
        return -1;
    }
    if (int err = file.replace(configPath, *rewritten); err != 0)
    {
        log.writeFailed(err, configPath);
        return -1;
    }
    return 0;
}

Answer setSpecCpu(Request in, uint8_t& detected, ClassEffects& effects)
{
    if (in.size() < setRequestLength)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    // Byte 0 is not used.
    uint8_t cpuClass = in[1];
    auto tjmax = tjmaxOfClass(cpuClass);
    if (!tjmax)
    {
        return failure(ipmi::ccInvalidCommand);
    }
    detected = cpuClass;
    effects.updateTjmax(*tjmax);
    effects.restartVirtualSensor();
    return success();
}

Answer getSpecCpu(Request, const uint8_t& detected)
{
    return success({detected});
}

} // namespace kestrel::am5_cpu
