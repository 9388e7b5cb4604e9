// boardpilot's inputs: the chassis ID record it reads from the EEPROM (the
// first 32 bytes) and its configuration (the rest), as main() uses them;
// and the record Set Chassis ID builds from a request of the same bytes.
#include "chassis_record.hpp"
#include "fuzz_input.hpp"
#include "platform.hpp"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size)
{
    using namespace kestrel::chassis;
    std::size_t head = std::min(size, recordSize);
    Record record{};
    std::copy_n(bytes, head, record.begin());
    std::string key = boardpilot::platformKey(record);

    // A request of the same bytes, in a buffer of exactly its size.
    std::vector<uint8_t> request(bytes, bytes + head);
    DecodedId decoded = decodeRecord(encodeRecord(request));
    if (decoded.id.size() > maxIdLength)
    {
        std::abort();
    }

    std::istringstream config(
        std::string(reinterpret_cast<const char*>(bytes) + head, size - head));
    try
    {
        boardpilot::runPlatformCommands(config, key, [](const std::string&) {});
    }
    catch (const std::exception&)
    {
        // main() reports it and exits with a failure.
    }
    return 0;
}
