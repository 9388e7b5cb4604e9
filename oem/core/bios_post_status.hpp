// BIOS POST status: the BIOS reports its power-on self-test progress; the
// BMC keeps the last status and publishes the matching boot-progress stage
// of the host.
#pragma once

#include "answer.hpp"

#include <cstdint>
#include <string>

namespace kestrel::bios_post_status
{

/** The host's BootProgress property.  The board's implementation makes a
 *  blocking D-Bus call and lets its failure escape as an exception. */
struct BootProgress
{
    virtual ~BootProgress() = default;
    virtual void setStage(const std::string& stage) = 0;
};

/** The last status the BIOS may report. */
inline constexpr uint8_t lastPostStatus = 0x04;

/** The boot-progress stage a POST status stands for: 0x00 and 0x01
 *  Unspecified, 0x02 and 0x03 SystemInitComplete, later ones OSStart. */
const char* bootProgressStage(uint8_t status);

/** Request: the status, 0x00 to 0x04.  The status is kept in `lastStatus`
 *  before the stage is published, so it stays kept when publishing fails. */
Answer setBiosPostStatus(Request in, uint8_t& lastStatus,
                         BootProgress& progress);

/** Response: the last status kept.  The request bytes are ignored. */
Answer getBiosPostStatus(Request in, uint8_t lastStatus);

} // namespace kestrel::bios_post_status
