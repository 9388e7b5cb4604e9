// Speaker beeps: the handler records a pattern of long and short beeps and
// a detached worker plays it on the speaker register of the PWM/tachometer
// controller, so the command answers at once.
#include "kestrel.hpp"
#include "regpeek.h"

#include <unistd.h>

#include <ipmid/api.hpp>

#include <atomic>
#include <cstdint>
#include <system_error>
#include <thread>

namespace
{

constexpr ipmi_netfn_t netFnKestrel = 0x3A;
constexpr ipmi_cmd_t cmdSetSpeakerFunc = 0xB4;

constexpr std::size_t requestLength = 2;
constexpr uint8_t maxLongBeeps = 3;
constexpr uint8_t maxShortBeeps = 11;

constexpr uint32_t speakerRegister = 0x1E786004;
constexpr uint32_t toneValue = 0xFF1AFF1A;
constexpr uint32_t restValue = 0xFF115F05;

constexpr useconds_t longToneUs = 600000;
constexpr useconds_t shortToneUs = 200000;
constexpr useconds_t restUs = 300000;

// The counts are re-read on every pass, so a newer request also governs a
// pattern already playing.
void playBeeps(const std::atomic<uint8_t>& count, useconds_t toneUs)
{
    for (uint8_t i = 0; count.load(std::memory_order_relaxed) > i; ++i)
    {
        mmap_write32(speakerRegister, toneValue);
        ::usleep(toneUs);
        mmap_write32(speakerRegister, restValue);
        ::usleep(restUs);
    }
}

} // namespace

extern "C" {

// One byte each, written by the request thread and read by the workers.
static_assert(sizeof(std::atomic<uint8_t>) == 1 &&
              std::atomic<uint8_t>::is_always_lock_free);
KESTREL_EXPORT std::atomic<uint8_t> SpeakerLongBeep{0};
KESTREL_EXPORT std::atomic<uint8_t> SpeakerShortBeep{0};

/** Plays the pattern in SpeakerLongBeep / SpeakerShortBeep: each long beep
 *  600 ms of tone and 300 ms of rest, then each short beep 200 ms and
 *  300 ms. */
KESTREL_EXPORT void DOSoundTASK()
{
    playBeeps(SpeakerLongBeep, longToneUs);
    playBeeps(SpeakerShortBeep, shortToneUs);
}

KESTREL_EXPORT ipmi_ret_t ipmiSetSpeakerFunc(ipmi_netfn_t, ipmi_cmd_t,
                                             ipmi_request_t request,
                                             ipmi_response_t,
                                             ipmi_data_len_t dataLen,
                                             ipmi_context_t)
{
    std::size_t length = *dataLen;
    *dataLen = 0;
    const auto* in = static_cast<const uint8_t*>(request);
    // A malformed pattern is ignored, and still answered with success.
    if (length != requestLength || in[0] > maxLongBeeps ||
        in[1] > maxShortBeeps)
    {
        return ipmi::ccSuccess;
    }
    SpeakerLongBeep.store(in[0], std::memory_order_relaxed);
    SpeakerShortBeep.store(in[1], std::memory_order_relaxed);
    try
    {
        std::thread(DOSoundTASK).detach();
    }
    catch (const std::system_error&)
    {
        // No thread, no sound; the request itself was accepted.
    }
    return ipmi::ccSuccess;
}

KESTREL_EXPORT void register_netfn_oem_speaker_func()
    __attribute__((constructor(KESTREL_CTOR_SPEAKER_FUNC)));

void register_netfn_oem_speaker_func()
{
    ipmi_register_callback(netFnKestrel, cmdSetSpeakerFunc, nullptr,
                           ipmiSetSpeakerFunc, SYSTEM_INTERFACE);
}

} // extern "C"
