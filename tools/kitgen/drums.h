// The demo kit: four drum sounds made from sines and noise, so that a new user has
// something to load at once. Every sound is a pure function of fixed constants and a fixed
// noise seed, so each build writes the same bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zb::kitgen {

inline constexpr int kRate = 44100;
inline constexpr int kChannels = 1;

// Mono samples at kRate, peaking exactly at the drum's level.
std::vector<float> Kick();   // pitched-down sine thump with a short click, 300 ms
std::vector<float> Snare();  // tone body under filtered noise, 200 ms
std::vector<float> HiHat();  // closed hat: high-passed noise, 70 ms
std::vector<float> Clap();   // three quick band-passed noise bursts and a tail, 150 ms

struct Drum {
    const char* fileName;  // numbered so that a file dialog lists them in slot order
    std::vector<float> (*synthesize)();
    float peak;  // linear; the four together stay below full scale
};

// Kick -7 dBFS, snare -11, hi-hat -16, clap -12: a plain balance, and when all four start
// on the same step their sum still peaks below full scale.
inline constexpr std::array<Drum, 4> kKit = {{
    {"kit-1-kick.wav", &Kick, 0.447f},
    {"kit-2-snare.wav", &Snare, 0.282f},
    {"kit-3-hihat.wav", &HiHat, 0.158f},
    {"kit-4-clap.wav", &Clap, 0.251f},
}};

// Rounds to 16-bit PCM (full scale 32767), clipping anything beyond.
std::vector<int16_t> ToPcm16(const std::vector<float>& samples);

// Writes a 16-bit PCM mono WAV file at kRate; on failure returns false with a reason.
bool WriteWav(const std::string& path, const std::vector<float>& samples, std::string* error);

// Writes the four files into `dir`; on failure returns false with a reason.
bool WriteKit(const std::string& dir, std::string* error);

}  // namespace zb::kitgen
