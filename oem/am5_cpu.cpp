// AM5 CPU class and the TJMAX constant of the virtual-sensor configuration.
// The two handlers are exported, but no constructor registers them: they
// have no NetFn or command number of their own.
#include "am5_cpu.hpp"

#include "dbus_blocking.hpp"
#include "dbus_names.hpp"
#include "file_store.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"

#include <ipmid/api.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <phosphor-logging/log.hpp>
#include <span>
#include <string>

namespace
{

using namespace phosphor::logging;

constexpr auto virtualSensorConfig =
    "/usr/share/phosphor-virtual-sensor/virtual_sensor_config.json";

struct BoardConfigFile final : kestrel::am5_cpu::ConfigFile
{
    std::optional<std::string> read(const std::string& path) override
    {
        std::ifstream in(path);
        if (!in.is_open())
        {
            return std::nullopt;
        }
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    int replace(const std::string& path, const std::string& text) override
    {
        // The configuration's directory belongs to the package: never made.
        return -board_io::replaceFile(
            path,
            std::span(reinterpret_cast<const uint8_t*>(text.data()),
                      text.size()),
            {.createParents = false});
    }
};

struct JournalConfigLog final : kestrel::am5_cpu::ConfigLog
{
    void parseFailed() override
    {
        log<level::ERR>("Error parsing virtual sensor config file");
    }
    void writeFailed(int err, const std::string& path) override
    {
        log<level::ERR>("Error writing virtual sensor config file",
                        entry("ERRNO=%d", err), entry("FILE=%s", path.c_str()));
    }
};

} // namespace

extern "C" {

/** The last CPU class accepted by ipmiSetAM5SpecCPU; lost when ipmid
 *  restarts. */
KESTREL_EXPORT uint8_t cpu_detection = 0x00;

KESTREL_EXPORT int updateVirtualSensorTjmax(int tjmax)
{
    BoardConfigFile file;
    JournalConfigLog journal;
    return kestrel::am5_cpu::updateTjmax(tjmax, virtualSensorConfig, file,
                                         journal);
}

} // extern "C"

namespace
{

struct BoardClassEffects final : kestrel::am5_cpu::ClassEffects
{
    int updateTjmax(int tjmax) override
    {
        return updateVirtualSensorTjmax(tjmax);
    }
    void restartVirtualSensor() override
    {
        using namespace kestrel::dbus;
        callMethodNoReply(systemdService, systemdObject, systemdManager,
                          "RestartUnit", std::string(virtualSensorUnit),
                          std::string(jobMode));
    }
};

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiSetAM5SpecCPU(ipmi_netfn_t, ipmi_cmd_t,
                                            ipmi_request_t request,
                                            ipmi_response_t response,
                                            ipmi_data_len_t dataLen,
                                            ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::am5_cpu::setSpecCpu, cpu_detection,
                                 BoardClassEffects{});
}

KESTREL_EXPORT ipmi_ret_t ipmiGetAM5SpecCPU(ipmi_netfn_t, ipmi_cmd_t,
                                            ipmi_request_t request,
                                            ipmi_response_t response,
                                            ipmi_data_len_t dataLen,
                                            ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::am5_cpu::getSpecCpu, cpu_detection);
}

} // extern "C"
