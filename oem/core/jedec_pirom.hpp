// Flash JEDEC ID and PIROM access: the 3-byte JEDEC identification of the
// BMC's SPI-NOR flash chips as the kernel shows it in a text file, and reads
// and writes of the PIROM EEPROM (writes to its upper 128 bytes only).
#pragma once

#include "answer.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kestrel::jedec_pirom
{

using JedecId = std::array<uint8_t, 3>;

/** The value of a hex digit of either case; -1 for another character. */
int hexDigit(char c);

/** The ID in exactly six hex digits; none for anything else. */
std::optional<JedecId> parseJedecId(std::string_view digits);

/** The first line of a jedec_id file, as fgets reads it into 16 bytes: at
 *  most 15 characters, up to and including a newline, cut at a NUL. */
struct IdFile
{
    virtual ~IdFile() = default;
    enum class Status
    {
        read,
        openFailed,
        readFailed,
    };
    struct Line
    {
        Status status;
        std::string text;
        int err; // errno, for the failures
    };
    virtual Line firstLine(const std::string& path) = 0;
};

struct JedecLog
{
    virtual ~JedecLog() = default;
    virtual void openFailed(int err) = 0;
    virtual void readFailed(int err) = 0;
    virtual void unexpectedLength(std::size_t length) = 0;
};

/** Reads the ID in the first line (up to its newline) of the jedec_id file
 *  at `path`.  Failures to open or read it, and a line of another length
 *  than six, are reported to `log`; six characters that are not all hex
 *  digits fail silently. */
std::optional<JedecId> readJedecId(const std::string& path, IdFile& file,
                                   JedecLog& log);

/** read_jedec_id, the library's reader of one file. */
struct IdReader
{
    virtual ~IdReader() = default;
    virtual std::optional<JedecId> read(const std::string& path) = 0;
};

/** Request: nothing (device 0) or the device index into `idFiles`; more
 *  bytes or an index past the list answer 0xCC.  Response: the 3-byte ID,
 *  or 0xFF when it cannot be read. */
Answer jedecId(Request in, std::span<const char* const> idFiles,
               IdReader& reader);

/** The PIROM EEPROM file, open for reading and writing while the object
 *  lives. */
struct Pirom
{
    virtual ~Pirom() = default;
    virtual bool open(const std::string& path) = 0;
    /** One block of data.size() bytes at `offset`, flushed; an empty block
     *  is no block and fails. */
    virtual bool write(uint8_t offset, std::span<const uint8_t> data) = 0;
    /** One block of into.size() bytes from `offset`; an empty block fails,
     *  and so does a block past the end of the file. */
    virtual bool read(uint8_t offset, std::span<uint8_t> into) = 0;
};

struct PiromLog
{
    virtual ~PiromLog() = default;
    virtual void openFailed() = 0;
};

/** Request: an unused byte, 0x00, the operation (0x00 write, 0x01 read),
 *  the offset, the count, then for a write the count bytes of data.  A
 *  write answers 0x00; a read answers the bytes.  The file is opened (0x80
 *  and logged when it cannot be) before the operation is looked at. */
Answer piromCmd(Request in, const std::string& path, Pirom& pirom,
                PiromLog& log);

} // namespace kestrel::jedec_pirom
