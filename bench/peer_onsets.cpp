// The sound-file side of measuring a peer drum machine beside Zembrola (bench/peer_hydrogen.sh
// drives the peer): writes the click that bench_onsets plays, and finds the step onsets in
// a recording of the sink's monitor by the same rule as bench_onsets (a rise above a
// quarter of full scale after 600 quiet frames; each interval minus the ideal period).
//
// Usage:
//   peer_onsets click FILE                       writes the click as a 16-bit mono WAV
//   peer_onsets analyse FILE PERIOD LABEL [N]    onset figures of FILE's first channel for
//                                                a step period of PERIOD frames (44.1 kHz);
//                                                N: the onsets expected (a note when not met)
//
// The recording and the peer's output share the sink's clock, so frames compare directly.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/bench_support.h"

namespace {

constexpr float kLoud = 0.25f;
constexpr int64_t kQuietGap = 600;

int analyse(const std::string& path, double period, const char* label, long expected) {
    const std::vector<float> recording = zb::bench::readFirstChannel(path);
    if (recording.empty()) {
        std::printf("onsets: %s: the recording %s could not be read\n", label, path.c_str());
        return 1;
    }
    const std::vector<int64_t> on = zb::bench::findOnsets(recording, 1, kLoud, kQuietGap);
    if (on.size() < 2) {
        std::printf("onsets: %s: %zu onsets in %.1f s of recording: the peer played nothing\n",
                    label, on.size(), static_cast<double>(recording.size()) / 44100.0);
        return 1;
    }
    const zb::bench::IntervalFigures f = zb::bench::measureIntervals(on, period);
    std::printf(
        "onsets: %s (%.1f frames): onset interval off the step period by mean %.2f, max %.2f "
        "frames (interval %d, %+.2f) over %d intervals, %d of them off by more than 1 frame; "
        "drift %+.2f frames (goal <= 1 sample)\n",
        label, period, f.meanAbs, f.maxAbs, f.worst, f.worstSigned, f.intervals, f.offGrid,
        f.drift);
    if (expected > 0 && static_cast<long>(on.size()) < expected)
        std::printf("onsets: %s: note: %zu onsets found, at least %ld expected\n", label, on.size(),
                    expected);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "click") == 0) {
        // The same click as bench_onsets: 100 loud frames of a square burst, then silence.
        if (!zb::bench::writeMonoWav(argv[2], zb::bench::clickSamples(500, 100, 0.8f, 10))) {
            std::fprintf(stderr, "peer_onsets: cannot write %s\n", argv[2]);
            return 1;
        }
        return 0;
    }
    if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "analyse") == 0) {
        const double period = std::atof(argv[3]);
        if (period <= 0) {
            std::fprintf(stderr, "peer_onsets: the period must be a positive number of frames\n");
            return 2;
        }
        return analyse(argv[2], period, argv[4], argc == 6 ? std::atol(argv[5]) : 0);
    }
    std::fprintf(stderr,
                 "usage: peer_onsets click FILE | peer_onsets analyse FILE PERIOD LABEL [N]\n");
    return 2;
}
