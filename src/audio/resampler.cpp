#include "audio/resampler.h"

#include <algorithm>
#include <cmath>

namespace zb::audio {

namespace {

constexpr double kBeta = 9.0;     // Kaiser window: sidelobes near -90 dB
constexpr double kCutoff = 0.86;  // of the Nyquist frequency, leaves room for the transition
constexpr double kBucket = 0.25;  // step buckets
constexpr double kMaxStep = 3.5;

double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

}  // namespace

SincKernel::SincKernel(int baseTaps, double step) {
    const double scale = std::max(1.0, step);
    // A multiple of eight taps lets the dot products run in full vector lanes.
    taps_ = static_cast<int>(std::ceil(baseTaps * scale / 8.0)) * 8;
    const double cutoff = kCutoff / scale;
    const double half = taps_ / 2.0;
    const double norm = besselI0(kBeta);
    table_.resize(static_cast<size_t>(kPhases + 1) * taps_);
    for (int p = 0; p <= kPhases; ++p) {
        const double frac = static_cast<double>(p) / kPhases;
        for (int k = 0; k < taps_; ++k) {
            // Distance from the read position to source frame i - taps/2 + 1 + k.
            const double x = (k - taps_ / 2 + 1) - frac;
            const double t = x / half;
            const double window =
                std::fabs(t) >= 1.0 ? 0.0 : besselI0(kBeta * std::sqrt(1.0 - t * t)) / norm;
            const double arg = M_PI * cutoff * x;
            const double sinc = std::fabs(arg) < 1e-12 ? 1.0 : std::sin(arg) / arg;
            table_[static_cast<size_t>(p) * taps_ + k] = static_cast<float>(cutoff * sinc * window);
        }
    }
    delta_.resize(static_cast<size_t>(kPhases) * taps_);
    for (int p = 0; p < kPhases; ++p)
        for (int k = 0; k < taps_; ++k)
            delta_[static_cast<size_t>(p) * taps_ + k] =
                table_[static_cast<size_t>(p + 1) * taps_ + k] -
                table_[static_cast<size_t>(p) * taps_ + k];
}

void SincKernel::kernelAt(float frac, float* out) const {
    const float *row, *d;
    float mix;
    rowsAt(frac, row, d, mix);
    for (int k = 0; k < taps_; ++k) out[k] = row[k] + mix * d[k];
}

Resampler::Resampler() {
    for (double s = 1.0; s <= kMaxStep + 1e-9; s += kBucket) kernels_.emplace_back(kBaseTaps, s);
}

const SincKernel& Resampler::forStep(double step) const {
    // The bucket at or above the step, so the cutoff is never too high.
    const int index = step <= 1.0 ? 0 : static_cast<int>(std::ceil((step - 1.0) / kBucket - 1e-9));
    return kernels_[std::min<size_t>(static_cast<size_t>(index), kernels_.size() - 1)];
}

namespace {

inline __attribute__((always_inline)) void readOne(const SincKernel& kernel, const float* left,
                                                   const float* right, double pos, float& outLeft,
                                                   float& outRight) {
    const int taps = kernel.taps();
    const double whole = std::floor(pos);
    const int64_t first = static_cast<int64_t>(whole) - taps / 2 + 1;
    const float *row, *delta;
    float mix;
    kernel.rowsAt(static_cast<float>(pos - whole), row, delta, mix);
    const float* l = left + first;
    const float* r = right + first;
    // Eight independent partial sums per channel so the compiler keeps them in vector lanes.
    float accL[8] = {}, accR[8] = {};
    for (int k = 0; k < taps; k += 8) {
        for (int j = 0; j < 8; ++j) {
            const float h = row[k + j] + mix * delta[k + j];
            accL[j] += l[k + j] * h;
            accR[j] += r[k + j] * h;
        }
    }
    outLeft =
        ((accL[0] + accL[1]) + (accL[2] + accL[3])) + ((accL[4] + accL[5]) + (accL[6] + accL[7]));
    outRight =
        ((accR[0] + accR[1]) + (accR[2] + accR[3])) + ((accR[4] + accR[5]) + (accR[6] + accR[7]));
}

}  // namespace

void ReadBandLimited(const SincKernel& kernel, const float* left, const float* right, double pos,
                     float& outLeft, float& outRight) {
    readOne(kernel, left, right, pos, outLeft, outRight);
}

__attribute__((target_clones("arch=x86-64-v3", "default"))) uint32_t MixBandLimited(
    const SincKernel& kernel, const float* left, const float* right, int64_t end, double& pos,
    double step, float gainL, float gainR, float* out, uint32_t frames) {
    const double last = static_cast<double>(end);
    uint32_t f = 0;
    if (step == 1.0 && pos == std::floor(pos)) {
        // The sample's own rate from a whole frame: a plain copy, no filtering needed.
        int64_t i = static_cast<int64_t>(pos);
        for (; f < frames && i < end; ++f, ++i) {
            out[2 * f] += left[i] * gainL;
            out[2 * f + 1] += right[i] * gainR;
        }
        pos = static_cast<double>(i);
        return f;
    }
    for (; f < frames && pos < last; ++f) {
        float l, r;
        readOne(kernel, left, right, pos, l, r);
        out[2 * f] += l * gainL;
        out[2 * f + 1] += r * gainR;
        pos += step;
    }
    return f;
}

}  // namespace zb::audio
