#include "core/draws.h"

#include <algorithm>
#include <cmath>

namespace zb::rnd {

float unitFromBits(uint32_t bits) {
    // The top 24 bits scaled by 2^-24: at most 1 - 2^-24, which a float holds exactly.
    return static_cast<float>(static_cast<double>(bits >> 8) * 0x1p-24);
}

float StdRandomSource::next() {
    return unitFromBits(static_cast<uint32_t>(engine_()));
}

int selectorIndex(float r, int count) {
    return static_cast<int>(std::floor(static_cast<double>(r) * count));
}

SelectorDraw drawSelectors(RandomSource& source) {
    SelectorDraw d;
    d.note = selectorIndex(source.next(), 4);
    d.tone = selectorIndex(source.next(), 5);
    d.freq = selectorIndex(source.next(), 4);
    d.sub = selectorIndex(source.next(), 4);
    d.subF = selectorIndex(source.next(), 4);
    d.low = selectorIndex(source.next(), 3);
    return d;
}

int32_t toneFromDraw(float r) {
    const auto f = static_cast<int32_t>(std::floor(static_cast<double>(r) * 99999.0 + 1.0));
    return std::max(f, kMinTone);
}

int panSignFromDraw(float r) {
    const double x = r;
    return static_cast<int>(std::floor(x + x + 1.0));
}

int32_t panFromDraw(int sign, float r) {
    const double x = r;
    if (sign == 1)
        return static_cast<int32_t>(std::floor(x * 9999.0 + 1.0));
    return static_cast<int32_t>(std::floor(x * -9999.0 + 1.0));
}

TonePanDraw drawTonePan(RandomSource& source) {
    TonePanDraw d;
    d.tone = toneFromDraw(source.next());
    d.panSign = panSignFromDraw(source.next());
    d.pan = panFromDraw(d.panSign, source.next());
    return d;
}

}  // namespace zb::rnd
