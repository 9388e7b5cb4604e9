#include "fw_version.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kestrel::fw_version
{
namespace
{

constexpr std::size_t biosFwInfoLength = 4;

} // namespace

std::string biosVersionString(const VersionRecord& record)
{
    char text[32];
    uint8_t letter0 = record[2];
    uint8_t letter1 = record[3];
    bool tagged = letter0 != 0x00 || letter1 != 0x00;
    unsigned major = record[0];
    unsigned minor = record[1];
    unsigned build = record[4];
    if (!tagged && build == 0)
    {
        std::snprintf(text, sizeof(text), "%u.%02u", major, minor);
    }
    else if (!tagged)
    {
        std::snprintf(text, sizeof(text), "%u.%02u.%02u", major, minor, build);
    }
    else if (build == 0)
    {
        std::snprintf(text, sizeof(text), "%u.%02u.%c%c", major, minor, letter0,
                      letter1);
    }
    else
    {
        std::snprintf(text, sizeof(text), "%u.%02u.%c%c%02u", major, minor,
                      letter0, letter1, build);
    }
    return text;
}

std::string biosFwInfoString(uint8_t kind, uint8_t major, uint8_t minor,
                             uint8_t suffix)
{
    char version[10];
    std::snprintf(version, sizeof(version), "%c%u.%02x",
                  kind == 0x01 ? 'L' : 'P', unsigned{major}, unsigned{minor});
    if (suffix != 0x00 && suffix != 0xFF)
    {
        std::size_t end = std::strlen(version);
        version[end] = static_cast<char>(suffix);
        version[end + 1] = '\0';
    }
    return version;
}

Answer setRevRecord(Request in, RecordTable table, VersionStore& store,
                    BiosVersion& bios)
{
    if (in.size() < 1 || in.size() > 1 + recordSize)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    uint8_t index = in[0];
    if (index > lastRecordIndex)
    {
        return failure(ipmi::ccInvalidCommand);
    }
    // A short record is stored zero-padded.
    VersionRecord entry{};
    std::ranges::copy(in.subspan(1), entry.begin());
    std::ranges::copy(entry, table.subspan(index * recordSize).begin());
    if (index == biosRecordIndex)
    {
        // A failure here leaves the store as it was.
        bios.publish(biosVersionString(entry));
    }
    (void)store.save(index, entry);
    return success({0x00});
}

Answer getRevRecord(Request in, VersionStore& store)
{
    if (in.size() < 1)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    uint8_t index = in[0];
    if (index > lastRecordIndex)
    {
        return failure(ipmi::ccInvalidCommand);
    }
    VersionRecord record{};
    (void)store.load(index, record);
    return success(Bytes(record.begin(), record.end()));
}

Answer setBiosFwInfo(Request in, BiosVersion& bios)
{
    if (in.size() < biosFwInfoLength)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    bios.publish(biosFwInfoString(in[0], in[1], in[2], in[3]));
    return success({0x00});
}

} // namespace kestrel::fw_version
