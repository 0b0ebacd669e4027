// Band-limited reading of sample memory at any rate: a Kaiser-windowed sinc kernel,
// tabulated at many fractional phases and interpolated between them. When frames are
// consumed faster than the output runs (step > 1) the kernel's cutoff drops with the step,
// so nothing above the output's Nyquist frequency folds back.
//
// Threads: tables are built on the UI thread (they allocate); reading is real-time safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zb::audio {

class SincKernel {
public:
    // `taps` kernel length at cutoff 1 (scaled up by `step` when decimating).
    SincKernel(int taps, double step);

    int taps() const { return taps_; }
    // The taps for fractional position `frac` (0 <= frac < 1), written to `out`
    // (taps() values, for source frames i - taps()/2 + 1 ... i + taps()/2).
    void kernelAt(float frac, float* out) const;
    // The tabulated row below `frac`, the difference to the next row, and the blend.
    void rowsAt(float frac, const float*& row, const float*& delta, float& mix) const {
        const float f = frac * kPhases;
        const int p = f < kPhases - 1 ? static_cast<int>(f) : kPhases - 1;
        mix = f - static_cast<float>(p);
        row = &table_[static_cast<size_t>(p) * taps_];
        delta = &delta_[static_cast<size_t>(p) * taps_];
    }
    static constexpr int kPhases = 512;

private:
    int taps_;
    std::vector<float> table_;  // (phases + 1) rows of taps_
    std::vector<float> delta_;  // row p+1 minus row p
};

// One table per step bucket; the reader picks the one for its step.
class Resampler {
public:
    static constexpr int kBaseTaps = 16;
    static constexpr int kPadFrames = 64;  // zeros around every sample, covers the widest kernel

    Resampler();
    const SincKernel& forStep(double step) const;

private:
    std::vector<SincKernel> kernels_;  // buckets of step 1, 1.25, 1.5, ... up to 3.5
};

// Reads one frame at position `pos` of a padded planar sample: `left` and `right` point at
// frame 0 of each channel (the same run for mono); kPadFrames of zeros lie before frame 0
// and after the last frame.
void ReadBandLimited(const SincKernel& kernel, const float* left, const float* right, double pos,
                     float& outLeft, float& outRight);

// Mixes up to `frames` output frames of a sample read from `pos` onwards at `step` frames
// per output frame into `out` (interleaved stereo), scaled by the two gains. Stops at the
// sample's end (`end` frames). Advances `pos`; returns the frames mixed.
uint32_t MixBandLimited(const SincKernel& kernel, const float* left, const float* right,
                        int64_t end, double& pos, double step, float gainL, float gainR, float* out,
                        uint32_t frames);

}  // namespace zb::audio
