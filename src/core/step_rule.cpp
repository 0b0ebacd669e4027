#include "sequencer/step_rule.h"

#include <array>
#include <charconv>
#include <cmath>

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

int64_t roundHalfEven(double x) {
    const double lower = std::floor(x);
    const double frac = x - lower;
    double r = lower;
    if (frac > 0.5) {
        r = lower + 1.0;
    } else if (frac == 0.5) {
        r = std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
    }
    return static_cast<int64_t>(r);
}

int stepIntervalMs(int tempo) {
    const double period = 60.0 / tempo * 1000.0 / 8.0;
    return static_cast<int>(roundHalfEven(period));
}

std::optional<int> parseTempoText(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    // from_chars takes a minus sign but not a plus sign.
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-')
            return std::nullopt;
    }
    if (text.empty())
        return std::nullopt;
    // Only plain decimal notation; from_chars would also take "inf" and "nan".
    for (char c : text) {
        const bool ok =
            (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
        if (!ok)
            return std::nullopt;
    }
    double x = 0.0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), x, std::chars_format::general);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    if (!(x >= kMinTempo && x <= kMaxTempo))
        return std::nullopt;
    return static_cast<int>(roundHalfEven(x));
}

}  // namespace zb::seq
