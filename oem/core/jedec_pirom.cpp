#include "jedec_pirom.hpp"

#include <cctype>

namespace kestrel::jedec_pirom
{
namespace
{

constexpr std::size_t jedecIdLength = std::tuple_size_v<JedecId>;

constexpr std::size_t piromHeaderLength = 5; // unused, 0x00, op, offset, count
constexpr uint8_t piromWrite = 0x00;
constexpr uint8_t piromRead = 0x01;
constexpr uint8_t piromFirstWritable = 0x80;
constexpr uint8_t piromMaxWrite = 0x80;
constexpr ipmi::Cc ccPiromUnavailable = 0x80;

} // namespace

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
    {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

std::optional<JedecId> parseJedecId(std::string_view digits)
{
    if (digits.size() != 2 * jedecIdLength)
    {
        return std::nullopt;
    }
    JedecId id{};
    for (std::size_t i = 0; i < jedecIdLength; ++i)
    {
        int high = hexDigit(digits[2 * i]);
        int low = hexDigit(digits[2 * i + 1]);
        if (high < 0 || low < 0)
        {
            // Not an ID at all: failure rather than a made-up value.
            return std::nullopt;
        }
        id[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return id;
}

std::optional<JedecId> readJedecId(const std::string& path, IdFile& file,
                                   JedecLog& log)
{
    IdFile::Line line = file.firstLine(path);
    switch (line.status)
    {
        case IdFile::Status::openFailed:
            log.openFailed(line.err);
            return std::nullopt;
        case IdFile::Status::readFailed:
            log.readFailed(line.err);
            return std::nullopt;
        case IdFile::Status::read:
            break;
    }
    std::string_view digits = line.text;
    digits = digits.substr(0, digits.find('\n'));
    if (digits.size() != 2 * jedecIdLength)
    {
        log.unexpectedLength(digits.size());
        return std::nullopt;
    }
    return parseJedecId(digits);
}

Answer jedecId(Request in, std::span<const char* const> idFiles,
               IdReader& reader)
{
    if (in.size() > 1)
    {
        return failure(ipmi::ccInvalidFieldRequest);
    }
    uint8_t device = in.empty() ? 0x00 : in[0];
    if (device >= idFiles.size())
    {
        return failure(ipmi::ccInvalidFieldRequest);
    }
    auto id = reader.read(idFiles[device]);
    if (!id)
    {
        return failure(ipmi::ccUnspecifiedError);
    }
    return success(Bytes(id->begin(), id->end()));
}

Answer piromCmd(Request in, const std::string& path, Pirom& pirom,
                PiromLog& log)
{
    if (in.size() < piromHeaderLength)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    if (in[1] != 0x00)
    {
        return failure(ipmi::ccInvalidCommand);
    }
    if (!pirom.open(path))
    {
        log.openFailed();
        return failure(ccPiromUnavailable);
    }
    uint8_t operation = in[2];
    uint8_t offset = in[3];
    uint8_t count = in[4];
    if (operation == piromWrite)
    {
        if (offset < piromFirstWritable || count > piromMaxWrite)
        {
            return failure(ipmi::ccInvalidCommand);
        }
        if (in.size() < piromHeaderLength + count)
        {
            return failure(ipmi::ccReqDataLenInvalid);
        }
        if (!pirom.write(offset, in.subspan(piromHeaderLength, count)))
        {
            return failure(ipmi::ccUnspecifiedError);
        }
        return success({0x00});
    }
    if (operation == piromRead)
    {
        Bytes data(count);
        if (!pirom.read(offset, data))
        {
            return failure(ipmi::ccUnspecifiedError);
        }
        return success(std::move(data));
    }
    return failure(ipmi::ccInvalidCommand);
}

} // namespace kestrel::jedec_pirom
