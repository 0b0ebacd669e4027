// The band-limited interpolator: tones inside the band pass at their level, tones that a
// rate change pushes above the output's Nyquist frequency do not fold back.
#include "audio/resampler.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/sound.h"
#include "support/wav_fixtures.h"

namespace zb::audio {
namespace {

double rmsDb(const std::vector<float>& stereo, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += double(stereo[2 * i]) * stereo[2 * i];
    return 10.0 * std::log10(sum / double(to - from) + 1e-30);
}

struct Tone {
    double sourceHz;  // tone inside the 44.1 kHz sample
    int32_t frequency;
    double expectDb;  // level relative to a full-band pass; -200 means "must vanish"
};

TEST(Resampler, InBandTonesPassAndOutOfBandTonesDoNotFoldBack) {
    QTemporaryDir dir;
    OfflineAudioSystem system;
    SoundRoot root(system);
    auto device = root.CreateSoundDevice("");
    const Tone tones[] = {
        {1000, 44100, 0.0},    {1000, 48000, 0.0}, {1000, 30000, 0.0}, {3000, 100000, 0.0},
        {5000, 22050, 0.0},    {4410, 4410, 0.0},  // 441 Hz out: 60 whole cycles measured
        {15000, 88200, -200},                      // would be 30 kHz: above the output's Nyquist
        {12000, 100000, -200},                     // would be 27.2 kHz
        {20000, 60000, -200},                      // would be 27.2 kHz
    };
    const double reference = 20.0 * std::log10(0.5 / std::sqrt(2.0));
    for (const Tone& t : tones) {
        // A file of its own per tone: a loaded sample is reused for the same path, size
        // and time stamp, which a coarse file clock could repeat.
        const std::string path =
            dir.filePath(QString("t%1-%2.wav").arg(t.sourceHz).arg(t.frequency)).toStdString();
        ASSERT_TRUE(test::writeWav(path, {44100, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
                                   test::sine(44100 * 4, t.sourceHz, 44100, 1, 0.5)));
        BufferDesc desc;
        auto b = device->CreateBufferFromFile(path, desc);
        b->SetFrequency(t.frequency);
        b->SetPlayPosition(0);
        b->Play(0);
        const auto out = system.driver()->render(8820);
        const double level = rmsDb(out, 2000, 8000) - reference;
        if (t.expectDb <= -200)
            EXPECT_LT(level, -80.0) << t.sourceHz << " Hz at " << t.frequency;
        else
            EXPECT_NEAR(level, t.expectDb, 0.1) << t.sourceHz << " Hz at " << t.frequency;
        b->Stop();
        system.driver()->render(256);
    }
}

TEST(Resampler, OwnRateReproducesTheSampleExactly) {
    QTemporaryDir dir;
    OfflineAudioSystem system;
    SoundRoot root(system);
    auto device = root.CreateSoundDevice("");
    const auto tone = test::sine(5000, 3000, 44100, 2, 0.5);
    const std::string path = dir.filePath("own.wav").toStdString();
    ASSERT_TRUE(test::writeWav(path, {44100, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT}, tone));
    BufferDesc desc;
    auto b = device->CreateBufferFromFile(path, desc);
    b->SetPlayPosition(0);
    b->Play(0);
    const auto out = system.driver()->render(5000);
    for (size_t i = 0; i < out.size(); ++i) ASSERT_FLOAT_EQ(out[i], tone[i]) << i;
}

// The mixer works through runs of frames in groups with one shared reduction; every frame
// must still be the one read on its own at its position, in its channel, up to the sample's
// end, whatever the step and however the run splits into groups.
TEST(Resampler, MixingARunMatchesReadingEachFrameAlone) {
    SampleData data;
    data.channels = 2;
    data.allocate(203);
    uint32_t x = 7;
    for (int64_t i = 0; i < data.frames; ++i) {
        x = x * 1664525u + 1013904223u;
        data.channel(0)[i] = static_cast<float>(static_cast<int32_t>(x)) / 4294967296.0f;
        data.channel(1)[i] = 0.25f * std::sin(0.3f * static_cast<float>(i));
    }
    const Resampler resampler;
    for (double step : {0.4535, 1.0113, 1.1338, 2.2, 3.5}) {
        for (double start : {0.0, 0.37, 150.5}) {
            const SincKernel& kernel = resampler.forStep(step);
            const uint32_t frames = 67;  // not a whole number of groups
            std::vector<float> mixed(2 * frames, 0.5f);
            double pos = start;
            const uint32_t done =
                MixBandLimited(kernel, data.channel(0), data.channel(1), data.frames, pos, step,
                               0.8f, -0.3f, mixed.data(), frames);
            double expectPos = start;
            uint32_t expectDone = 0;
            for (; expectDone < frames && expectPos < double(data.frames); ++expectDone) {
                float l, r;
                ReadBandLimited(kernel, data.channel(0), data.channel(1), expectPos, l, r);
                const std::string where = "step " + std::to_string(step) + " from " +
                                          std::to_string(start) + " frame " +
                                          std::to_string(expectDone);
                ASSERT_NEAR(mixed[2 * expectDone], 0.5f + 0.8f * l, 1e-5) << where;
                ASSERT_NEAR(mixed[2 * expectDone + 1], 0.5f - 0.3f * r, 1e-5) << where;
                expectPos += step;
            }
            EXPECT_EQ(done, expectDone) << step;
            EXPECT_EQ(pos, expectPos) << step;
            for (uint32_t f = done; f < frames; ++f) {
                EXPECT_EQ(mixed[2 * f], 0.5f);  // past the end nothing is added
                EXPECT_EQ(mixed[2 * f + 1], 0.5f);
            }
        }
    }
}

}  // namespace
}  // namespace zb::audio
