// Flash JEDEC ID and PIROM access over the kernel's sysfs files.
#include "jedec_pirom.hpp"

#include "kestrel.hpp"
#include "legacy.hpp"
#include "misc_subcommands.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ipmid/api.hpp>
#include <phosphor-logging/log.hpp>

using phosphor::logging::level;
using phosphor::logging::log;

namespace
{

namespace core = kestrel::jedec_pirom;

constexpr const char* jedecIdFiles[] = {
    "/sys/bus/spi/devices/spi0.0/spi-nor/jedec_id",
    "/sys/bus/spi/devices/spi0.1/spi-nor/jedec_id",
};

constexpr auto piromPath = "/sys/bus/i2c/devices/1-0050/eeprom";

class File
{
  public:
    File() = default;
    File(const char* path, const char* mode) : f(std::fopen(path, mode))
    {
    }
    ~File()
    {
        if (f != nullptr)
        {
            std::fclose(f);
        }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    void open(const char* path, const char* mode)
    {
        f = std::fopen(path, mode);
    }
    std::FILE* get() const
    {
        return f;
    }

  private:
    std::FILE* f = nullptr;
};

struct SysfsIdFile final : core::IdFile
{
    Line firstLine(const std::string& path) override
    {
        char line[16] = {};
        File file(path.c_str(), "r");
        if (file.get() == nullptr)
        {
            return {Status::openFailed, {}, errno};
        }
        if (std::fgets(line, sizeof(line), file.get()) == nullptr)
        {
            return {Status::readFailed, {}, errno};
        }
        return {Status::read, line, 0};
    }
};

struct StderrJedecLog final : core::JedecLog
{
    void openFailed(int err) override
    {
        errno = err;
        std::perror("Failed to open jedec_id file");
    }
    void readFailed(int err) override
    {
        errno = err;
        std::perror("Failed to read jedec_id file");
    }
    void unexpectedLength(std::size_t length) override
    {
        std::fprintf(stderr, "Unexpected JEDEC ID length: %zu\n", length);
    }
};

struct LibraryIdReader final : core::IdReader
{
    std::optional<core::JedecId> read(const std::string& path) override
    {
        core::JedecId id{};
        if (read_jedec_id(path.c_str(), id.data()) != 1)
        {
            return std::nullopt;
        }
        return id;
    }
};

struct SysfsPirom final : core::Pirom
{
    bool open(const std::string& path) override
    {
        file.open(path.c_str(), "rb+");
        return file.get() != nullptr;
    }
    bool write(uint8_t offset, std::span<const uint8_t> data) override
    {
        return std::fseek(file.get(), offset, SEEK_SET) == 0 &&
               std::fwrite(data.data(), data.size(), 1, file.get()) == 1 &&
               std::fflush(file.get()) == 0;
    }
    bool read(uint8_t offset, std::span<uint8_t> into) override
    {
        return std::fseek(file.get(), offset, SEEK_SET) == 0 &&
               std::fread(into.data(), into.size(), 1, file.get()) == 1;
    }

    File file;
};

struct JournalPiromLog final : core::PiromLog
{
    void openFailed() override
    {
        log<level::ERR>("Unable to open PIROM EEPROM");
    }
};

} // namespace

int read_jedec_id(const char* path, uint8_t* id)
{
    SysfsIdFile file;
    StderrJedecLog stderrLog;
    auto read = core::readJedecId(path, file, stderrLog);
    if (!read)
    {
        return 0;
    }
    std::memcpy(id, read->data(), read->size());
    return 1;
}

ipmi::RspType<std::vector<uint8_t>> ipmiJedecId(ipmi::Context::ptr&,
                                                std::vector<uint8_t> data)
{
    LibraryIdReader reader;
    return kestrel::misc::typedAnswer(
        core::jedecId(data, jedecIdFiles, reader));
}

extern "C" KESTREL_EXPORT ipmi_ret_t ipmiPiromCmd(ipmi_netfn_t, ipmi_cmd_t,
                                                  ipmi_request_t request,
                                                  ipmi_response_t response,
                                                  ipmi_data_len_t dataLen,
                                                  ipmi_context_t)
{
    return kestrel::answerLegacy(request, response, dataLen, core::piromCmd,
                                 std::string(piromPath), SysfsPirom{},
                                 JournalPiromLog{});
}
