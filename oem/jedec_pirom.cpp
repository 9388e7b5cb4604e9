// Flash JEDEC ID and PIROM access over the kernel's sysfs files: the 3-byte
// JEDEC identification of the BMC's SPI-NOR flash chips, and reads and
// writes of the PIROM EEPROM (writes to its upper 128 bytes only).
#include "misc_subcommands.hpp"

#include "kestrel.hpp"

#include <ipmid/api.hpp>
#include <phosphor-logging/log.hpp>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

using phosphor::logging::level;
using phosphor::logging::log;

namespace
{

constexpr const char* jedecIdFiles[] = {
    "/sys/bus/spi/devices/spi0.0/spi-nor/jedec_id",
    "/sys/bus/spi/devices/spi0.1/spi-nor/jedec_id",
};
constexpr std::size_t jedecIdLength = 3;

constexpr auto piromPath = "/sys/bus/i2c/devices/1-0050/eeprom";
constexpr std::size_t piromHeaderLength = 5; // unused, 0x00, op, offset, count
constexpr uint8_t piromWrite = 0x00;
constexpr uint8_t piromRead = 0x01;
constexpr uint8_t piromFirstWritable = 0x80;
constexpr uint8_t piromMaxWrite = 0x80;
constexpr ipmi::Cc ccPiromUnavailable = 0x80;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
    {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

class File
{
  public:
    File(const char* path, const char* mode) : f(std::fopen(path, mode)) {}
    ~File()
    {
        if (f != nullptr)
        {
            std::fclose(f);
        }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    std::FILE* get() const
    {
        return f;
    }

  private:
    std::FILE* f;
};

} // namespace

int read_jedec_id(const char* path, uint8_t* id)
{
    char line[16] = {};
    {
        File file(path, "r");
        if (file.get() == nullptr)
        {
            std::perror("Failed to open jedec_id file");
            return 0;
        }
        if (std::fgets(line, sizeof(line), file.get()) == nullptr)
        {
            std::perror("Failed to read jedec_id file");
            return 0;
        }
    }
    line[std::strcspn(line, "\n")] = '\0';
    std::size_t length = std::strlen(line);
    if (length != 2 * jedecIdLength)
    {
        std::fprintf(stderr, "Unexpected JEDEC ID length: %zu\n", length);
        return 0;
    }
    uint8_t bytes[jedecIdLength];
    for (std::size_t i = 0; i < jedecIdLength; ++i)
    {
        int high = hexDigit(line[2 * i]);
        int low = hexDigit(line[2 * i + 1]);
        if (high < 0 || low < 0)
        {
            // Not an ID at all: report failure rather than a made-up value.
            return 0;
        }
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    std::memcpy(id, bytes, jedecIdLength);
    return 1;
}

ipmi::RspType<std::vector<uint8_t>>
    ipmiJedecId(ipmi::Context::ptr&, std::vector<uint8_t> data)
{
    if (data.size() > 1)
    {
        return ipmi::responseInvalidFieldRequest();
    }
    uint8_t device = data.empty() ? 0x00 : data[0];
    if (device >= std::size(jedecIdFiles))
    {
        return ipmi::responseInvalidFieldRequest();
    }
    std::vector<uint8_t> id(jedecIdLength);
    if (read_jedec_id(jedecIdFiles[device], id.data()) != 1)
    {
        return ipmi::responseUnspecifiedError();
    }
    return ipmi::responseSuccess(id);
}

extern "C" KESTREL_EXPORT ipmi_ret_t ipmiPiromCmd(ipmi_netfn_t, ipmi_cmd_t,
                                                  ipmi_request_t request,
                                                  ipmi_response_t response,
                                                  ipmi_data_len_t dataLen,
                                                  ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    if (length < piromHeaderLength)
    {
        return ipmi::ccReqDataLenInvalid;
    }
    const auto* in = static_cast<const uint8_t*>(request);
    if (in[1] != 0x00)
    {
        return ipmi::ccInvalidCommand;
    }
    File eeprom(piromPath, "rb+");
    if (eeprom.get() == nullptr)
    {
        log<level::ERR>("Unable to open PIROM EEPROM");
        return ccPiromUnavailable;
    }
    uint8_t operation = in[2];
    uint8_t offset = in[3];
    uint8_t count = in[4];
    if (operation == piromWrite)
    {
        if (offset < piromFirstWritable || count > piromMaxWrite)
        {
            return ipmi::ccInvalidCommand;
        }
        if (length < piromHeaderLength + count)
        {
            return ipmi::ccReqDataLenInvalid;
        }
        // One block of `count` bytes: a count of 0 transfers no block and
        // fails.
        if (std::fseek(eeprom.get(), offset, SEEK_SET) != 0 ||
            std::fwrite(in + piromHeaderLength, count, 1, eeprom.get()) != 1 ||
            std::fflush(eeprom.get()) != 0)
        {
            return ipmi::ccUnspecifiedError;
        }
        static_cast<uint8_t*>(response)[0] = 0x00;
        *dataLen = 1;
        return ipmi::ccSuccess;
    }
    if (operation == piromRead)
    {
        if (std::fseek(eeprom.get(), offset, SEEK_SET) != 0 ||
            std::fread(response, count, 1, eeprom.get()) != 1)
        {
            return ipmi::ccUnspecifiedError;
        }
        *dataLen = count;
        return ipmi::ccSuccess;
    }
    return ipmi::ccInvalidCommand;
}
