#include "audio/resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

// Eight lanes: one AVX register, or two SSE registers in the baseline build.
typedef float Lanes8 __attribute__((vector_size(32)));
typedef float Lanes4 __attribute__((vector_size(16)));

// The read position moves by single frames, so memory is never assumed aligned; copying
// compiles to unaligned loads and stores (an under-aligned vector type does not survive
// every compiler's references).
inline __attribute__((always_inline)) void load(const float* p, Lanes8& v) {
    std::memcpy(&v, p, sizeof v);
}
inline __attribute__((always_inline)) void store(const Lanes8& v, float* p) {
    std::memcpy(p, &v, sizeof v);
}

// The kernel's products at `pos`, left and right, still spread over eight lanes each.
inline __attribute__((always_inline)) void products(const SincKernel& kernel, const float* left,
                                                    const float* right, double pos, Lanes8& accL,
                                                    Lanes8& accR) {
    const int taps = kernel.taps();
    const double whole = std::floor(pos);
    const int64_t first = static_cast<int64_t>(whole) - taps / 2 + 1;
    const float *row, *delta;
    float mix;
    kernel.rowsAt(static_cast<float>(pos - whole), row, delta, mix);
    const float* l = left + first;
    const float* r = right + first;
    accL = Lanes8{};
    accR = Lanes8{};
    for (int k = 0; k < taps; k += 8) {
        Lanes8 h, d, lk, rk;
        load(row + k, h);
        load(delta + k, d);
        load(l + k, lk);
        load(r + k, rk);
        h += mix * d;
        accL += lk * h;
        accR += rk * h;
    }
}

// Pairwise sums of neighbouring lanes of a and b, as a horizontal add does per 128-bit half.
inline __attribute__((always_inline)) void pairSums(const Lanes8& a, const Lanes8& b, Lanes8& out) {
    out = __builtin_shufflevector(a, b, 0, 2, 8, 10, 4, 6, 12, 14) +
          __builtin_shufflevector(a, b, 1, 3, 9, 11, 5, 7, 13, 15);
}

inline __attribute__((always_inline)) void readOne(const SincKernel& kernel, const float* left,
                                                   const float* right, double pos, float& outLeft,
                                                   float& outRight) {
    Lanes8 accL, accR;
    products(kernel, left, right, pos, accL, accR);
    // Both sums reduced together: lanes stay in registers instead of going one by one.
    const Lanes8 halves = __builtin_shufflevector(accL, accR, 0, 1, 2, 3, 8, 9, 10, 11) +
                          __builtin_shufflevector(accL, accR, 4, 5, 6, 7, 12, 13, 14, 15);
    const Lanes4 quarters = __builtin_shufflevector(halves, halves, 0, 1, 4, 5) +
                            __builtin_shufflevector(halves, halves, 2, 3, 6, 7);
    outLeft = quarters[0] + quarters[1];
    outRight = quarters[2] + quarters[3];
}

// Four output frames at pos, pos + step, ...: their eight sums come out of one shared
// reduction as left, right, left, right, ... ready to add to the interleaved output.
inline __attribute__((always_inline)) void readFour(const SincKernel& kernel, const float* left,
                                                    const float* right, double pos, double step,
                                                    Lanes8& sums) {
    Lanes8 a0, a1, a2, a3, a4, a5, a6, a7;
    products(kernel, left, right, pos, a0, a1);
    pos += step;
    products(kernel, left, right, pos, a2, a3);
    pos += step;
    products(kernel, left, right, pos, a4, a5);
    pos += step;
    products(kernel, left, right, pos, a6, a7);
    Lanes8 p01, p23, p45, p67, low, high;
    pairSums(a0, a1, p01);
    pairSums(a2, a3, p23);
    pairSums(a4, a5, p45);
    pairSums(a6, a7, p67);
    pairSums(p01, p23, low);
    pairSums(p45, p67, high);
    // low holds the sums of a0..a3 over lanes 0-3 in its first half and over lanes 4-7 in
    // its second; high the same for a4..a7.
    sums = __builtin_shufflevector(low, high, 0, 1, 2, 3, 8, 9, 10, 11) +
           __builtin_shufflevector(low, high, 4, 5, 6, 7, 12, 13, 14, 15);
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
    // Four frames at a time while all four lie before the end; the same positions as one by
    // one, since each is the previous one plus the step.
    const Lanes8 gains = {gainL, gainR, gainL, gainR, gainL, gainR, gainL, gainR};
    for (; f + 4 <= frames && pos + 3 * step < last; f += 4) {
        Lanes8 sums;
        readFour(kernel, left, right, pos, step, sums);
        Lanes8 mixed;
        load(out + 2 * f, mixed);
        store(mixed + sums * gains, out + 2 * f);
        pos += step;
        pos += step;
        pos += step;
        pos += step;
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
