// Whether a sound stream still works, judged from what RtAudio reports through its error
// callback. A warning stands for one bad period: an ALSA underrun or overrun, after which
// the stream goes on, or a PulseAudio read or write that failed. Once the server is gone
// every period fails, and RtAudio calls again at once without waiting for a device, so
// warnings in many periods in a row mean the stream cannot go on. Anything worse than a
// warning has already stopped the stream.
//
// Threads: note() on the stream's own thread (real-time safe: plain arithmetic).
#pragma once

#include <cstdint>

namespace zb::audio {

enum class PeriodHealth {
    Good,
    Bad,     // the last period failed (its frames were not played, or not read)
    Failed,  // the stream cannot go on; stays so
};

class StreamHealth {
public:
    // Failed periods in a row that end a stream (at once with a lost server; about 40 ms of
    // underruns on a device that runs).
    static constexpr int kFailingPeriods = 16;

    // The counts of warnings and errors when the stream was opened.
    StreamHealth(uint64_t warnings, uint64_t errors)
        : warningsSeen_(warnings), errorBase_(errors) {}

    // Once per period, with the counts so far.
    PeriodHealth note(uint64_t warnings, uint64_t errors) {
        if (failed_)
            return PeriodHealth::Failed;
        if (errors != errorBase_) {
            failed_ = true;
            return PeriodHealth::Failed;
        }
        if (warnings == warningsSeen_) {
            badInARow_ = 0;
            return PeriodHealth::Good;
        }
        warningsSeen_ = warnings;
        if (++badInARow_ >= kFailingPeriods) {
            failed_ = true;
            return PeriodHealth::Failed;
        }
        return PeriodHealth::Bad;
    }

private:
    uint64_t warningsSeen_;
    uint64_t errorBase_;
    int badInARow_ = 0;
    bool failed_ = false;
};

}  // namespace zb::audio
