// WAV files made by the tests themselves: tones, clicks and broken files, written with
// libsndfile (or byte by byte for the broken ones) into a temporary folder.
#pragma once

#include <sndfile.h>

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace zb::test {

struct WavLayout {
    int rate = 44100;
    int channels = 1;
    int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
};

// Writes interleaved float samples (-1..1); returns false when libsndfile refuses.
bool writeWav(const std::string& path, const WavLayout& layout, const std::vector<float>& samples);

// A sine of `frames` frames at `hz` and amplitude `amp`, the same on every channel.
std::vector<float> sine(int64_t frames, double hz, int rate, int channels, double amp = 0.5);

// Constant value on every frame and channel (handy to follow gains exactly).
std::vector<float> constant(int64_t frames, int channels, float value);

// A WAV file read back whole, as interleaved samples; ok is false when it cannot be read.
template <typename Sample>
struct BasicWavRead {
    bool ok = false;
    SF_INFO info{};
    std::vector<Sample> samples;
};
using WavRead = BasicWavRead<float>;
WavRead readWav(const QString& path);
// The same as 16-bit integers, for comparing 16-bit takes sample for sample.
BasicWavRead<int16_t> readWav16(const QString& path);

void writeBytes(const std::string& path, const std::string& bytes);
std::string readBytes(const std::string& path);

// Onsets: frames where the absolute level of channel `ch` rises above `threshold` after
// at least `gap` frames below it.
std::vector<int64_t> onsets(const std::vector<float>& interleaved, int ch, float threshold,
                            int64_t gap);

}  // namespace zb::test
