#include "core/step_rule.h"

#include <array>

#include "core/typed_number.h"

namespace zb::seq {
namespace {

// Bit m set: mode m fires. A mode outside the table (including -1) never fires.
constexpr std::array<unsigned, 8> kNoteGate = {
    0b1111,  // p = 1: Whole, Half, Quarter, Eigth
    0b1000,  // p = 2: Eigth
    0b1100,  // p = 3: Quarter, Eigth
    0b1000,  // p = 4
    0b1110,  // p = 5: Half, Quarter, Eigth
    0b1000,  // p = 6
    0b1100,  // p = 7
    0b1000,  // p = 8
};

// Which freqMode / subFreqMode values let beat b play: "1" beat 1 only, "2" beats 1 and 3,
// "3" beats 1-3, "4" every beat.
constexpr std::array<unsigned, 4> kBeatGate = {
    0b1111,  // b = 1
    0b1100,  // b = 2
    0b1110,  // b = 3
    0b1000,  // b = 4
};

// toneMode 1-4: spread around the voice's own rate.
constexpr std::array<int32_t, 5> kToneSpread = {0, 100, 500, 1000, 5000};

bool inMask(unsigned mask, int mode) {
    return mode >= 0 && mode < 32 && ((mask >> mode) & 1u);
}

std::optional<int32_t> mainFrequency(int step, const VoiceModes& v) {
    const bool odd = step % 2 == 1;
    if (v.toneMode >= 1 && v.toneMode <= 4) {
        const int32_t spread = kToneSpread[v.toneMode];
        return odd ? v.baseFrequency + spread : v.baseFrequency - spread;
    }
    if (v.toneMode == 5)
        return odd ? kToneHighOdd : kToneHighEven;
    return std::nullopt;
}

}  // namespace

int beatOf(int step) {
    return (step - 1) / kStepsPerBeat + 1;
}
int positionOf(int step) {
    return (step - 1) % kStepsPerBeat + 1;
}

std::vector<BufferStart> voiceStarts(int step, const VoiceModes& v) {
    std::vector<BufferStart> starts;
    if (step < kFirstStep || step > kLastStep)
        return starts;
    const unsigned beatMask = kBeatGate[beatOf(step) - 1];
    const int p = positionOf(step);

    if (v.hasMain && inMask(kNoteGate[p - 1], v.noteMode) && inMask(beatMask, v.freqMode))
        starts.push_back({Buffer::Main, mainFrequency(step, v)});

    if (v.hasSub && v.subMode >= 1 && v.subMode <= 3 && inMask(beatMask, v.subFreqMode)) {
        std::optional<int32_t> f;
        if (v.subMode == 2)
            f = kSubHighRate;
        if (v.subMode == 3)
            f = kSubLowRate;
        starts.push_back({Buffer::Sub, f});
    }

    if (p == 1 && v.hasLow && (v.lowMode == 0 || v.lowMode == 1))
        starts.push_back({Buffer::Low, v.lowMode == 0 ? kLowLowRate : kLowHighRate});

    return starts;
}

int stepIntervalMs(int tempo) {
    const double period = 60.0 / tempo * 1000.0 / 8.0;
    return num::RoundHalfEven(period);
}

std::optional<int> parseTempoText(std::string_view text) {
    return num::TypedSliderValue(text, kMinTempo, kMaxTempo);
}

}  // namespace zb::seq
