// What RtAudio's error callback reports, counted per direction. The callback carries no
// user data, so every stream of a direction shares one tally and judges its own health from
// the counts (StreamHealth). A stream whose server went away would otherwise be called again
// and again without waiting for the device.
//
// Threads: count() on RtAudio's stream threads (an atomic increment); the loads anywhere.
#pragma once

#include <RtAudio.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace zb::audio {

struct RtAudioErrorTally {
    std::atomic<uint64_t> warnings{0};
    std::atomic<uint64_t> errors{0};
};

// RtAudio's error callback for the streams that `tally` counts.
template <RtAudioErrorTally& tally>
void countRtAudioError(RtAudioError::Type type, const std::string&) {
    if (type == RtAudioError::WARNING || type == RtAudioError::DEBUG_WARNING)
        tally.warnings.fetch_add(1, std::memory_order_relaxed);
    else
        tally.errors.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace zb::audio
