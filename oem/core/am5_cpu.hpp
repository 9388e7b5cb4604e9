// AM5 CPU class and the TJMAX constant of the virtual-sensor configuration.
//
// The host reports which class of AM5 processor is fitted; the BMC writes the
// class's maximum junction temperature into the virtual-sensor service's
// configuration and restarts that service so that it takes effect.
#pragma once

#include "answer.hpp"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace kestrel::am5_cpu
{

/** TJMAX in degrees Celsius of a CPU class; none for an unknown class. */
std::optional<int> tjmaxOfClass(uint8_t cpuClass);

/** Sets "Value" of every ConstParam entry named "TJMAX"; elements of other
 *  shapes are skipped. */
void setTjmax(nlohmann::json& config, int tjmax);

/** The configuration `text` with every TJMAX set to `tjmax`, as written
 *  back: indent 4, keys sorted, UTF-8 unescaped, no final newline.  None
 *  when `text` is not valid JSON or holds a string that cannot be written
 *  (not UTF-8). */
std::optional<std::string> rewriteConfig(const std::string& text, int tjmax);

/** The configuration file. */
struct ConfigFile
{
    virtual ~ConfigFile() = default;
    /** The whole file; none when it cannot be opened. */
    virtual std::optional<std::string> read(const std::string& path) = 0;
    /** Replaces the file atomically; 0 or an errno value, the file
     *  untouched on failure. */
    virtual int replace(const std::string& path, const std::string& text) = 0;
};

struct ConfigLog
{
    virtual ~ConfigLog() = default;
    virtual void parseFailed() = 0;
    virtual void writeFailed(int err, const std::string& path) = 0;
};

/** Rewrites the configuration at `configPath` with TJMAX = `tjmax`.
 *  Returns 0, or -1 when the file is missing (nothing logged), not valid
 *  JSON (logged, file unchanged) or cannot be rewritten (logged, file
 *  unchanged). */
int updateTjmax(int tjmax, const std::string& configPath, ConfigFile& file,
                ConfigLog& log);

/** What setting a CPU class does beyond recording it. */
struct ClassEffects
{
    virtual ~ClassEffects() = default;
    /** Rewrites the configuration; the result is not looked at. */
    virtual int updateTjmax(int tjmax) = 0;
    /** Restarts the virtual-sensor service; bus failures escape. */
    virtual void restartVirtualSensor() = 0;
};

/** Request: an unused byte, the CPU class (0x00 or 0x01; another answers
 *  0xC1 and changes nothing).  The class is recorded in `detected`, the
 *  configuration rewritten, and the service restarted whatever became of
 *  the file. */
Answer setSpecCpu(Request in, uint8_t& detected, ClassEffects& effects);

/** Response: the recorded class.  The request bytes are ignored. */
Answer getSpecCpu(Request in, const uint8_t& detected);

} // namespace kestrel::am5_cpu
