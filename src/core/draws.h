// Random draws of the pattern generators as plain functions over an injectable source.
//
// Threads: a source belongs to one thread; the functions keep no state of their own.
#pragma once

#include <cstdint>
#include <random>

namespace zb::rnd {

// Yields r with 0 <= r < 1, each value a 32-bit float.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual float next() = 0;
};

// The program's source: a Mersenne Twister left on its default seed, so that every start of
// the program repeats the same sequence.
class StdRandomSource : public RandomSource {
public:
    float next() override;

private:
    std::mt19937 engine_;
};

// Maps one raw 32-bit output to [0, 1) with 24 significant bits, so the float is exact and
// can never round up to 1.
float unitFromBits(uint32_t bits);

// Index floor(r * count) for a selector with `count` items.
int selectorIndex(float r, int count);

// The six selector indexes of one voice, in drawing order.
struct SelectorDraw {
    int note = 0;  // cmbNote, 0-3
    int tone = 0;  // cmbTone, 0-4
    int freq = 0;  // cmbFreq, 0-3
    int sub = 0;   // cmbSub, 0-3
    int subF = 0;  // cmbSubF, 0-3
    int low = 0;   // cmbLow, 0-2

    bool operator==(const SelectorDraw&) const = default;
};
SelectorDraw drawSelectors(RandomSource& source);

inline constexpr int32_t kMinTone = 100;  // the tone slider's minimum

// floor(r * 99999 + 1), raised to the tone slider's minimum when it falls below it.
int32_t toneFromDraw(float r);
// floor(r + r + 1): 1 or 2.
int panSignFromDraw(float r);
// Sign 1: floor(r * 9999 + 1), 1 to 9999. Otherwise floor(r * -9999 + 1), -9998 to 1.
int32_t panFromDraw(int sign, float r);

struct TonePanDraw {
    int32_t tone = kMinTone;
    int panSign = 1;
    int32_t pan = 1;

    bool operator==(const TonePanDraw&) const = default;
};
// Tone, pan sign, pan: three draws in that order.
TonePanDraw drawTonePan(RandomSource& source);

}  // namespace zb::rnd
