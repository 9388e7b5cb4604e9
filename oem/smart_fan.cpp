// Smart fan control: the PID fan controller's unit on systemd, and the PWM
// attributes of the fan controller's hwmon device.
#include "smart_fan.hpp"

#include "board_seams.hpp"
#include "commands.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <ipmid/api.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace
{

// Followed by the hwmon index the kernel gave the controller.
constexpr auto hwmonBase = "/sys/bus/platform/drivers/aspeed_pwm_tacho/"
                           "1e786000.pwm-tacho-controller/hwmon/hwmon";

struct SysfsPwmFiles final : kestrel::smart_fan::PwmFiles
{
    bool directoryOpens(const std::string& path) override
    {
        DIR* dir = ::opendir(path.c_str());
        if (dir == nullptr)
        {
            return false;
        }
        ::closedir(dir);
        return true;
    }

    // sysfs ignores the truncation; a plain file standing in for the
    // attribute then holds just the new value, as the attribute would.
    void write(const std::string& path, const std::string& text) override
    {
        int fd = ::open(path.c_str(), O_RDWR | O_TRUNC | O_CLOEXEC);
        if (fd < 0)
        {
            return;
        }
        [[maybe_unused]] ssize_t written =
            ::write(fd, text.data(), text.size());
        ::close(fd);
    }

    std::optional<std::string> read(const std::string& path) override
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
};

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiSetSmartFan(ipmi_netfn_t, ipmi_cmd_t,
                                          ipmi_request_t request,
                                          ipmi_response_t response,
                                          ipmi_data_len_t dataLen,
                                          ipmi_context_t)
{
    return kestrel::answerLegacy(
        request, response, dataLen, kestrel::smart_fan::setSmartFan,
        kestrel::SystemdUnits{}, SysfsPwmFiles{}, hwmonBase);
}

KESTREL_EXPORT ipmi_ret_t ipmiGetSmartFan(ipmi_netfn_t, ipmi_cmd_t,
                                          ipmi_request_t request,
                                          ipmi_response_t response,
                                          ipmi_data_len_t dataLen,
                                          ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::smart_fan::getSmartFan,
                                 SysfsPwmFiles{}, hwmonBase);
}

KESTREL_EXPORT void register_netfn_oem_smart_fan()
    __attribute__((constructor(KESTREL_CTOR_SMART_FAN)));

void register_netfn_oem_smart_fan()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnKestrel, setSmartFan, nullptr, ipmiSetSmartFan,
                           SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, getSmartFan, nullptr, ipmiGetSmartFan,
                           SYSTEM_INTERFACE);
}

} // extern "C"
