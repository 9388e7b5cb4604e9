// Speaker beeps: a request records a pattern of long and short beeps and
// starts a worker that plays it on the speaker register of the PWM/tachometer
// controller, so the command answers at once.
#pragma once

#include "answer.hpp"

#include <atomic>
#include <cstdint>

namespace kestrel::speaker_func
{

inline constexpr uint32_t speakerRegister = 0x1E786004;

/** The speaker's register writes and the pauses between them. */
struct Speaker
{
    virtual ~Speaker() = default;
    virtual void write(uint32_t value) = 0;
    virtual void sleep(uint32_t microseconds) = 0;
};

/** Starts the worker that plays the recorded pattern, detached; throws
 *  std::system_error when no thread can be started. */
struct Worker
{
    virtual ~Worker() = default;
    virtual void start() = 0;
};

/** Request: long beeps 0..3, short beeps 0..11 (exactly two bytes).  The
 *  counts are stored and a worker is started.  A malformed pattern, or a
 *  worker that cannot start, is still answered with success. */
Answer setSpeakerFunc(Request in, std::atomic<uint8_t>& longBeeps,
                      std::atomic<uint8_t>& shortBeeps, Worker& worker);

/** Each long beep 600 ms of tone and 300 ms of rest, then each short beep
 *  200 ms and 300 ms.  The counts are re-read on every pass, so a newer
 *  request also governs a pattern already playing. */
void playPattern(const std::atomic<uint8_t>& longBeeps,
                 const std::atomic<uint8_t>& shortBeeps, Speaker& speaker);

} // namespace kestrel::speaker_func
