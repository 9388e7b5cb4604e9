// AM5 CPU class and the TJMAX constant of the virtual-sensor configuration.
//
// The host reports which class of AM5 processor is fitted; the BMC writes the
// class's maximum junction temperature into the virtual-sensor service's
// configuration and restarts that service so that it takes effect.  The two
// handlers are exported, but no constructor registers them: they have no
// NetFn or command number of their own.
#include "dbus_ops.hpp"
#include "kestrel.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ipmid/api.hpp>
#include <nlohmann/json.hpp>
#include <phosphor-logging/log.hpp>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace
{

using namespace phosphor::logging;

constexpr auto virtualSensorConfig =
    "/usr/share/phosphor-virtual-sensor/virtual_sensor_config.json";
constexpr auto virtualSensorUnit = "phosphor-virtual-sensor.service";

constexpr std::size_t setRequestLength = 2;
constexpr uint8_t lastCpuClass = 0x01;
// TJMAX in degrees Celsius, by CPU class.
constexpr int tjmaxByClass[lastCpuClass + 1] = {95, 89};

/** Sets "Value" of every ConstParam entry named "TJMAX"; elements of other
 *  shapes are skipped.  Iterating a JSON value visits an array's elements,
 *  an object's values, or a single value itself. */
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

/** Closes fd (if open) and removes the temporary; keeps errno. */
void discardTemporary(int fd, const std::string& tmpPath)
{
    int saved = errno;
    if (fd >= 0)
    {
        ::close(fd);
    }
    ::unlink(tmpPath.c_str());
    errno = saved;
}

/** Replaces the file at `path` by one holding `text`, atomically: the bytes
 *  go to a temporary file in the same directory, which is flushed to disk
 *  and renamed over the original, so a reader (or a crash, or a full disk)
 *  sees either the old file or the new one, never a partial one.  The new
 *  file takes the original's mode (and, where allowed, its owner).  Returns
 *  0, or an errno value with the original untouched and no temporary left. */
int replaceFile(const std::string& path, const std::string& text)
{
    // A symbolic link stays a link: the file it names is what is replaced.
    std::error_code ec;
    std::filesystem::path target = std::filesystem::canonical(path, ec);
    if (ec)
    {
        target = path;
    }

    struct stat original
    {};
    bool haveOriginal = ::stat(target.c_str(), &original) == 0;

    std::string tmpPath = (target.parent_path() /
                           ("." + target.filename().string() + ".XXXXXX"))
                              .string();
    int fd = ::mkostemp(tmpPath.data(), O_CLOEXEC);
    if (fd < 0)
    {
        return errno;
    }

    mode_t mode = haveOriginal ? (original.st_mode & 07777) : 0644;
    if (::fchmod(fd, mode) != 0)
    {
        int err = errno;
        discardTemporary(fd, tmpPath);
        return err;
    }
    if (haveOriginal &&
        (original.st_uid != ::geteuid() || original.st_gid != ::getegid()))
    {
        if (::fchown(fd, original.st_uid, original.st_gid) != 0)
        {
            // Best effort: an unprivileged caller keeps its own ownership.
        }
    }

    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0)
    {
        ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR)
        {
            continue;
        }
        if (n <= 0)
        {
            int err = n < 0 ? errno : EIO;
            discardTemporary(fd, tmpPath);
            return err;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }

    if (::fsync(fd) != 0)
    {
        int err = errno;
        discardTemporary(fd, tmpPath);
        return err;
    }
    int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
    {
        int err = errno;
        discardTemporary(fd, tmpPath);
        return err;
    }
    if (::rename(tmpPath.c_str(), target.c_str()) != 0)
    {
        int err = errno;
        discardTemporary(fd, tmpPath);
        return err;
    }

    // Make the rename itself durable; the file is complete either way.
    int dir = ::open(target.parent_path().c_str(),
                     O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0)
    {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

} // namespace

extern "C" {

/** The last CPU class accepted by ipmiSetAM5SpecCPU; lost when ipmid
 *  restarts. */
KESTREL_EXPORT uint8_t cpu_detection = 0x00;

/** Sets every TJMAX constant of the virtual-sensor configuration to `tjmax`
 *  and rewrites the file (indent 4, keys sorted, UTF-8 unescaped, no final
 *  newline), replacing it atomically.  Returns 0, or -1 when the file is
 *  missing (nothing logged), not valid JSON (logged, file unchanged) or
 *  cannot be rewritten (logged, file unchanged). */
KESTREL_EXPORT int updateVirtualSensorTjmax(int tjmax)
{
    std::ifstream in(virtualSensorConfig);
    if (!in.is_open())
    {
        return -1;
    }

    std::string text;
    try
    {
        auto config = nlohmann::json::parse(in);
        in.close();
        setTjmax(config, tjmax);
        // Serialised before the file is touched: an error here (such as a
        // string that is not UTF-8) leaves the file as it was.
        text = config.dump(4);
    }
    catch (const nlohmann::json::exception&)
    {
        log<level::ERR>("Error parsing virtual sensor config file");
        return -1;
    }

    int err = replaceFile(virtualSensorConfig, text);
    if (err != 0)
    {
        log<level::ERR>("Error writing virtual sensor config file",
                        entry("ERRNO=%d", err),
                        entry("FILE=%s", virtualSensorConfig));
        return -1;
    }
    return 0;
}

KESTREL_EXPORT ipmi_ret_t ipmiSetAM5SpecCPU(ipmi_netfn_t, ipmi_cmd_t,
                                            ipmi_request_t request,
                                            ipmi_response_t,
                                            ipmi_data_len_t dataLen,
                                            ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    if (length < setRequestLength)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    // Byte 0 is not used.
    uint8_t cpuClass = static_cast<const uint8_t*>(request)[1];
    if (cpuClass > lastCpuClass)
    {
        return ipmi::ccInvalidCommand;
    }
    cpu_detection = cpuClass;
    // The service is restarted whatever became of the file.
    updateVirtualSensorTjmax(tjmaxByClass[cpuClass]);
    kestrel::dbus::callMethodNoReply(
        kestrel::dbus::systemdService, kestrel::dbus::systemdObject,
        kestrel::dbus::systemdManager, "RestartUnit",
        std::string(virtualSensorUnit), std::string(kestrel::dbus::jobMode));
    return ipmi::ccSuccess;
}

KESTREL_EXPORT ipmi_ret_t ipmiGetAM5SpecCPU(ipmi_netfn_t, ipmi_cmd_t,
                                            ipmi_request_t,
                                            ipmi_response_t response,
                                            ipmi_data_len_t dataLen,
                                            ipmi_context_t)
{
    static_cast<uint8_t*>(response)[0] = cpu_detection;
    *dataLen = 1;
    return ipmi::ccSuccess;
}

} // extern "C"
