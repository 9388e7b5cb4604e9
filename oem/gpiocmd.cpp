// GPIO get and set through libgpiod's version 1 API, and the system-fault LED
// that Set drives for offset 0x33.  Every access opens the chip and closes it
// again before the handler returns.
#include "gpiocmd.hpp"

#include "board_seams.hpp"
#include "commands.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"

#include <gpiod.h>
#include <ipmid/api.h>

#include <cstdint>
#include <memory>
#include <phosphor-logging/log.hpp>
#include <string>

using phosphor::logging::level;
using phosphor::logging::log;

namespace
{

constexpr auto gpioChip = "/dev/gpiochip0";

struct ChipCloser
{
    void operator()(gpiod_chip* chip) const
    {
        gpiod_chip_close(chip);
    }
};
using Chip = std::unique_ptr<gpiod_chip, ChipCloser>;

// Opens the chip into `chip` and looks the line up on it: null when
// either fails.  Closing the chip releases the line.
gpiod_line* findLine(Chip& chip, const std::string& path, uint8_t offset)
{
    chip.reset(gpiod_chip_open(path.c_str()));
    return chip ? gpiod_chip_get_line(chip.get(), offset) : nullptr;
}

struct BoardGpioLines final : kestrel::gpiocmd::GpioLines
{
    // The chip is closed on return, which releases the line.
    int readLine(const std::string& path, uint8_t offset,
                 const std::string& consumer, Read what) override
    {
        Chip chip;
        gpiod_line* line = findLine(chip, path, offset);
        gpiod_line_request_config config{consumer.c_str(),
                                         GPIOD_LINE_REQUEST_DIRECTION_AS_IS, 0};
        if (line == nullptr || gpiod_line_request(line, &config, 0) != 0)
        {
            return -1;
        }
        return what == Read::direction ? gpiod_line_direction(line)
                                       : gpiod_line_get_value(line);
    }

    bool writeLine(const std::string& path, uint8_t offset,
                   const std::string& consumer, bool output,
                   uint8_t level) override
    {
        Chip chip;
        gpiod_line* line = findLine(chip, path, offset);
        if (line == nullptr)
        {
            return false;
        }
        gpiod_line_request_config config{
            consumer.c_str(),
            output ? GPIOD_LINE_REQUEST_DIRECTION_OUTPUT
                   : GPIOD_LINE_REQUEST_DIRECTION_INPUT,
            0};
        bool requested = gpiod_line_request(line, &config, 0) == 0;
        if (requested)
        {
            // Refused only on an input line, where there is nothing to drive.
            [[maybe_unused]] int rc = gpiod_line_set_value(line, level);
        }
        gpiod_line_release(line);
        return requested;
    }
};

struct JournalLog final : kestrel::gpiocmd::Log
{
    void systemFaultLed() override
    {
        log<level::ERR>("ipmiSetGPIOHL x5");
    }
};

} // namespace

extern "C" {

KESTREL_EXPORT ipmi_ret_t ipmiSetGPIOHL(ipmi_netfn_t, ipmi_cmd_t,
                                        ipmi_request_t request,
                                        ipmi_response_t response,
                                        ipmi_data_len_t dataLen, ipmi_context_t)
{
    return kestrel::answerLegacy(
        request, response, dataLen, kestrel::gpiocmd::setGpio, BoardGpioLines{},
        kestrel::BusLedGroups{}, JournalLog{}, gpioChip);
}

KESTREL_EXPORT ipmi_ret_t ipmiGetGPIOHL(ipmi_netfn_t, ipmi_cmd_t,
                                        ipmi_request_t request,
                                        ipmi_response_t response,
                                        ipmi_data_len_t dataLen, ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen,
                                 kestrel::gpiocmd::getGpio, BoardGpioLines{},
                                 gpioChip);
}

KESTREL_EXPORT void register_netfn_oem_gpiocmd()
    __attribute__((constructor(KESTREL_CTOR_GPIOCMD)));

void register_netfn_oem_gpiocmd()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnKestrel, setGpio, nullptr, ipmiSetGPIOHL,
                           SYSTEM_INTERFACE);
    ipmi_register_callback(netFnKestrel, getGpio, nullptr, ipmiGetGPIOHL,
                           SYSTEM_INTERFACE);
}

} // extern "C"
