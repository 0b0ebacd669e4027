// The 32-step pattern rule and the tempo arithmetic, as plain functions over plain data.
// The step player binds them to the sound buffers, the window to its controls.
//
// Threads: any; no state.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace zb::seq {

inline constexpr int kFirstStep = 1;
inline constexpr int kLastStep = 32;
inline constexpr int kStepsPerBeat = 8;

// Rates that some modes set regardless of the voice's own rate.
inline constexpr int32_t kToneHighOdd = 50000;   // toneMode 5, odd steps
inline constexpr int32_t kToneHighEven = 20000;  // toneMode 5, even steps
inline constexpr int32_t kSubHighRate = 50000;   // subMode 2 ("High")
inline constexpr int32_t kSubLowRate = 20000;    // subMode 3 ("Low")
inline constexpr int32_t kLowLowRate = 20000;    // lowMode 0 ("Low")
inline constexpr int32_t kLowHighRate = 10000;   // lowMode 1 ("High")

// A voice's six pattern selector indexes (-1 when nothing is selected).
struct PatternModes {
    int16_t noteMode = -1;
    int16_t freqMode = -1;
    int16_t toneMode = -1;
    int16_t subMode = -1;
    int16_t subFreqMode = -1;
    int16_t lowMode = -1;
};

// What the rule needs to know about one voice: its pattern modes, its sample's own rate and
// which of its buffers exist.
struct VoiceModes : PatternModes {
    int32_t baseFrequency = 0;
    bool hasMain = false;
    bool hasSub = false;
    bool hasLow = false;
};

enum class Buffer { Main, Sub, Low };

// One note: on `buffer`, set `frequency` first when present, then rewind and play once.
struct BufferStart {
    Buffer buffer = Buffer::Main;
    std::optional<int32_t> frequency;

    bool operator==(const BufferStart&) const = default;
};

// Beat (1-4) and position within the beat (1-8) of a step 1-32.
int beatOf(int step);
int positionOf(int step);

// The notes one voice starts at `step`, in call order (main, sub, low). Steps outside
// 1-32 start nothing.
std::vector<BufferStart> voiceStarts(int step, const VoiceModes& voice);

// Period of the step timers in whole milliseconds for a tempo in beats per minute: one step
// is an eighth of a beat.
int stepIntervalMs(int tempo);

inline constexpr int kMinTempo = 6;
inline constexpr int kMaxTempo = 240;

// The tempo a typed text asks for: a decimal number (optional sign, fraction, exponent;
// surrounding blanks allowed) from 6 to 240, rounded half to even. Anything else, including
// the empty text, asks for nothing.
std::optional<int> parseTempoText(std::string_view text);

}  // namespace zb::seq
