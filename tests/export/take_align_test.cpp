#include "export/take_align.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

namespace zb::capture {
namespace {

constexpr int64_t kRate = 44100;
constexpr int64_t kLead = 1000;  // silent frames before the sound, as a silent first step

// Stereo reference: kLead silent frames, then `sound(i)` on the left and 0.7 of it on the
// right.
std::vector<float> reference(int64_t frames, const std::function<float(int64_t)>& sound) {
    std::vector<float> out(2 * static_cast<size_t>(frames), 0.0f);
    for (int64_t i = kLead; i < frames; ++i) {
        out[2 * i] = sound(i - kLead);
        out[2 * i + 1] = 0.7f * sound(i - kLead);
    }
    return out;
}

// What the input records: `noise` of its own throughout, and the reference scaled by
// `gain` from frame `at`, as 16-bit frames of `channels`.
std::vector<int16_t> recordingOf(const std::vector<float>& ref, int64_t at, int channels,
                                 float gain, float noise = 0.0f, int64_t frames = 20000) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<int16_t> out(static_cast<size_t>(frames * channels));
    const int64_t refFrames = static_cast<int64_t>(ref.size() / 2);
    for (int64_t j = 0; j < frames; ++j) {
        for (int c = 0; c < channels; ++c) {
            float v = noise * uniform(random);
            const int64_t i = j - at;
            if (i >= 0 && i < refFrames)
                v += gain * (channels == 1 ? 0.5f * (ref[2 * i] + ref[2 * i + 1]) : ref[2 * i + c]);
            out[static_cast<size_t>(j * channels + c)] =
                static_cast<int16_t>(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767.0f));
        }
    }
    return out;
}

std::optional<int64_t> locate(const std::vector<float>& ref, const std::vector<int16_t>& rec,
                              int channels, int64_t expected, int64_t radius = 512) {
    return locateInRecording(ref.data(), static_cast<int64_t>(ref.size() / 2), rec.data(),
                             static_cast<int64_t>(rec.size()) / channels, channels,
                             {.expected = expected, .radius = radius});
}

float decayingNoise(int64_t i) {
    static const std::vector<float> noise = [] {
        std::mt19937 random(11);
        std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
        std::vector<float> v(8000);
        for (float& x : v) x = uniform(random);
        return v;
    }();
    return 0.8f * noise[static_cast<size_t>(i) % noise.size()] * std::exp(-i / 800.0f);
}
float lowKick(int64_t i) {
    return 0.9f * std::sin(2.0f * std::numbers::pi_v<float> * 55.0f * i / kRate) *
           std::exp(-i / 4000.0f);
}
float steadyTone(int64_t i) {
    return 0.5f * std::sin(2.0f * std::numbers::pi_v<float> * 2000.0f * i / kRate);
}

TEST(TakeAlign, FindsAScaledCopyToTheFrame) {
    const std::function<float(int64_t)> sounds[] = {decayingNoise, lowKick, steadyTone};
    for (const auto& sound : sounds) {
        const std::vector<float> ref = reference(6000, sound);
        for (int channels : {1, 2}) {
            for (int64_t at : {3000 - 300, 3000, 3000 + 37, 3000 + 511}) {
                // At the server's half volume, with a quiet hiss of other sound.
                const std::vector<int16_t> rec = recordingOf(ref, at, channels, 0.5f, 0.005f);
                EXPECT_EQ(locate(ref, rec, channels, 3000), at)
                    << channels << " channels, copy at " << at;
            }
        }
    }
}

TEST(TakeAlign, FindsTheCopyUnderLouderOtherSound) {
    const std::vector<float> ref = reference(6000, decayingNoise);
    const std::vector<int16_t> rec = recordingOf(ref, 2900, 2, 1.0f, 0.1f);
    EXPECT_EQ(locate(ref, rec, 2, 3000), 2900);
}

TEST(TakeAlign, AnswersNothingWhenTheOffsetCannotBeTold) {
    // The reference has no sound.
    const std::vector<float> silent(2 * 6000, 0.0f);
    EXPECT_EQ(locate(silent, recordingOf(silent, 3000, 2, 1.0f, 0.1f), 2, 3000), std::nullopt);

    // The recording holds other sound only.
    const std::vector<float> ref = reference(6000, decayingNoise);
    const std::vector<int16_t> other = recordingOf(reference(6000, lowKick), 3000, 2, 1.0f);
    EXPECT_EQ(locate(ref, other, 2, 3000), std::nullopt);

    // The copy lies beyond the searched radius: no answer rather than the nearest slope.
    EXPECT_EQ(locate(ref, recordingOf(ref, 3700, 2, 1.0f), 2, 3000, 512), std::nullopt);

    // A steady tone already sounding when the reference begins repeats every period.
    std::vector<float> tone(2 * 6000);
    for (int64_t i = 0; i < 6000; ++i) tone[2 * i] = tone[2 * i + 1] = steadyTone(i + 5000);
    std::vector<int16_t> toneRec(2 * 20000);
    for (int64_t j = 0; j < 20000; ++j)
        toneRec[2 * j] = toneRec[2 * j + 1] =
            static_cast<int16_t>(std::lround(steadyTone(j + 2000) * 32767.0f));
    EXPECT_EQ(locate(tone, toneRec, 2, 3000), std::nullopt);
}

TEST(TakeAlign, TheRecordingsEdgesBoundTheSearch) {
    // The recording began during the reference's silent lead, as far back as the radius
    // reaches: the offset is found although the search runs into the recording's start.
    const std::vector<float> ref = reference(6000, decayingNoise);
    EXPECT_EQ(locate(ref, recordingOf(ref, -kLead + 300, 2, 1.0f), 2, -400), -kLead + 300);
    // A recording too short to hold the compared stretch anywhere in the radius.
    EXPECT_EQ(locate(ref, recordingOf(ref, 0, 2, 1.0f, 0.0f, 500), 2, 0), std::nullopt);
}

}  // namespace
}  // namespace zb::capture
