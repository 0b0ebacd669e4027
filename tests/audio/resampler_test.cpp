// The band-limited interpolator: tones inside the band pass at their level, tones that a
// rate change pushes above the output's Nyquist frequency do not fold back.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>

#include "audio/audio_system.h"
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
        const std::string path = dir.filePath("t.wav").toStdString();
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

}  // namespace
}  // namespace zb::audio
