#include "speaker_func.hpp"

#include <system_error>

namespace kestrel::speaker_func
{
namespace
{

constexpr std::size_t requestLength = 2;
constexpr uint8_t maxLongBeeps = 3;
constexpr uint8_t maxShortBeeps = 11;

constexpr uint32_t toneValue = 0xFF1AFF1A;
constexpr uint32_t restValue = 0xFF115F05;

constexpr uint32_t longToneUs = 600000;
constexpr uint32_t shortToneUs = 200000;
constexpr uint32_t restUs = 300000;

void playBeeps(const std::atomic<uint8_t>& count, uint32_t toneUs,
               Speaker& speaker)
{
    for (uint8_t i = 0; count.load(std::memory_order_relaxed) > i; ++i)
    {
        speaker.write(toneValue);
        speaker.sleep(toneUs);
        speaker.write(restValue);
        speaker.sleep(restUs);
    }
}

} // namespace

Answer setSpeakerFunc(Request in, std::atomic<uint8_t>& longBeeps,
                      std::atomic<uint8_t>& shortBeeps, Worker& worker)
{
    if (in.size() != requestLength || in[0] > maxLongBeeps ||
        in[1] > maxShortBeeps)
    {
        return success();
    }
    longBeeps.store(in[0], std::memory_order_relaxed);
    shortBeeps.store(in[1], std::memory_order_relaxed);
    try
    {
        worker.start();
    }
    catch (const std::system_error&)
    {
        // No thread, no sound; the request itself was accepted.
    }
    return success();
}

void playPattern(const std::atomic<uint8_t>& longBeeps,
                 const std::atomic<uint8_t>& shortBeeps, Speaker& speaker)
{
    playBeeps(longBeeps, longToneUs, speaker);
    playBeeps(shortBeeps, shortToneUs, speaker);
}

} // namespace kestrel::speaker_func
