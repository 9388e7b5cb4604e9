#include "chassis_id.hpp"

#include "chassis_record.hpp"

namespace kestrel::chassis_id
{

Answer setChassisId(Request in, Eeprom& eeprom)
{
    if (in.size() > chassis::recordSize)
    {
        // More than the record holds: refuse rather than truncate.
        return failure(ipmi::ccReqDataLenInvalid);
    }
    chassis::Record record = chassis::encodeRecord(in);
    if (eeprom.write(record.data(), chassis::recordOffset, record.size()) < 0)
    {
        return failure(ipmi::ccInvalidCommand);
    }
    return success();
}

Answer getChassisId(Request, Eeprom& eeprom)
{
    chassis::Record record{};
    // A failed read leaves the zeroed record, which reads as unset.
    (void)eeprom.read(record.data(), chassis::recordOffset, record.size());
    auto decoded = chassis::decodeRecord(record);
    if (decoded.state != chassis::RecordState::valid)
    {
        return success(Bytes(chassis::maxIdLength, 0xFF));
    }
    Bytes out(decoded.id.begin(), decoded.id.end());
    if (out.size() < chassis::maxIdLength)
    {
        out.push_back(0x00); // the terminator travels with a short ID
    }
    return success(std::move(out));
}

} // namespace kestrel::chassis_id
