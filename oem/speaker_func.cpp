// Speaker beeps: the handler records a pattern of long and short beeps and
// a detached worker plays it on the speaker register through libregpeek.
#include "speaker_func.hpp"

#include "commands.hpp"
#include "kestrel.hpp"
#include "legacy.hpp"

#include <ipmid/api.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "regpeek.h"

extern "C" {

// One byte each, written by the request thread and read by the workers.
static_assert(sizeof(std::atomic<uint8_t>) == 1 &&
              std::atomic<uint8_t>::is_always_lock_free);
KESTREL_EXPORT std::atomic<uint8_t> SpeakerLongBeep{0};
KESTREL_EXPORT std::atomic<uint8_t> SpeakerShortBeep{0};

KESTREL_EXPORT void DOSoundTASK();

} // extern "C"

namespace
{

struct BoardSpeaker final : kestrel::speaker_func::Speaker
{
    void write(uint32_t value) override
    {
        mmap_write32(kestrel::speaker_func::speakerRegister, value);
    }
    void sleep(uint32_t microseconds) override
    {
        ::usleep(microseconds);
    }
};

struct DetachedWorker final : kestrel::speaker_func::Worker
{
    void start() override
    {
        std::thread(DOSoundTASK).detach();
    }
};

} // namespace

extern "C" {

/** Plays the pattern in SpeakerLongBeep / SpeakerShortBeep. */
void DOSoundTASK()
{
    BoardSpeaker speaker;
    kestrel::speaker_func::playPattern(SpeakerLongBeep, SpeakerShortBeep,
                                       speaker);
}

KESTREL_EXPORT ipmi_ret_t ipmiSetSpeakerFunc(ipmi_netfn_t, ipmi_cmd_t,
                                             ipmi_request_t request,
                                             ipmi_response_t response,
                                             ipmi_data_len_t dataLen,
                                             ipmi_context_t)
{
    return kestrel::answerLegacy(
        request, response, dataLen, kestrel::speaker_func::setSpeakerFunc,
        SpeakerLongBeep, SpeakerShortBeep, DetachedWorker{});
}

KESTREL_EXPORT void register_netfn_oem_speaker_func()
    __attribute__((constructor(KESTREL_CTOR_SPEAKER_FUNC)));

void register_netfn_oem_speaker_func()
{
    using namespace kestrel::cmd;
    ipmi_register_callback(netFnKestrel, setSpeakerFunc, nullptr,
                           ipmiSetSpeakerFunc, SYSTEM_INTERFACE);
}

} // extern "C"
