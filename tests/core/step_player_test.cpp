// The step player on a session without any window: what playback and the export share.
#include "core/step_player.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cmath>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/sound.h"
#include "core/session.h"
#include "support/wav_fixtures.h"

namespace zb {
namespace {

float peak(const std::vector<float>& pcm, size_t from, size_t to) {
    float p = 0.0f;
    for (size_t i = from; i < std::min(to, pcm.size()); ++i) p = std::max(p, std::fabs(pcm[i]));
    return p;
}

TEST(StepPlayer, PlaysAStepOnItsFrameAndStopsEveryBuffer) {
    QTemporaryDir dir;
    const std::string wav = dir.filePath("tone.wav").toStdString();
    ASSERT_TRUE(test::writeWav(wav, {}, test::constant(44100, 1, 0.5f)));
    audio::OfflineAudioSystem system;
    Session session;
    session.soundRoot = std::make_shared<audio::SoundRoot>(system);
    session.soundDevice = session.soundRoot->CreateSoundDevice("");
    auto* driver = system.driver();
    audio::BufferDesc desc;
    desc.flags = audio::kCtrlFrequency | audio::kCtrlPan | audio::kCtrlVolume;
    VoiceState& voice = session.voices[1];
    voice.mainBuffer = session.soundDevice->CreateBufferFromFile(wav, desc);
    voice.baseFrequency = 44100;
    voice.noteMode = 0;  // whole notes: the first position of every beat
    voice.freqMode = 3;  // on all four beats
    StepPlayer player(session);

    // Step 2 is no whole note's position: nothing sounds.
    player.play(2);
    player.commit(-1);
    EXPECT_EQ(peak(driver->render(256), 0, 512), 0.0f);

    // Step 1 on a frame 300 frames ahead: silent up to it, sounding from it.
    const int64_t at = session.soundDevice->engine().framesRendered() + 300;
    player.play(1);
    player.commit(at);
    const std::vector<float> pcm = driver->render(1024);
    EXPECT_EQ(peak(pcm, 0, 2 * 300), 0.0f);
    EXPECT_GT(peak(pcm, 2 * 300, pcm.size()), 0.1f);

    player.stopAll();
    player.commit(-1);
    EXPECT_EQ(peak(driver->render(1024), 256, 2048), 0.0f);

    // A step that commits itself arranges no other commit; one cut short still gets one.
    int arranged = 0;
    session.soundDevice->engine().setCommitScheduler([&arranged] { ++arranged; });
    {
        const auto scope = player.stepScope();
        player.stopAll();
        player.play(1);
        player.commit(-1);
    }
    EXPECT_EQ(arranged, 0);
    {
        const auto scope = player.stepScope();
        player.stopAll();
    }
    EXPECT_EQ(arranged, 1);
}

}  // namespace
}  // namespace zb
