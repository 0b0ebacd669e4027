// The sound service through its offline driver: what comes out of the mixer for the
// operations the program uses.
#include "audio/engine.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "audio/audio_system.h"
#include "audio/sound.h"
#include "support/wav_fixtures.h"

namespace zb::audio {
namespace {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        device = root.CreateSoundDevice("");
        driver = system.driver();
        ASSERT_NE(driver, nullptr);
    }

    std::string file(const std::string& name, const test::WavLayout& layout,
                     const std::vector<float>& samples) {
        const std::string path = dir.filePath(QString::fromStdString(name)).toStdString();
        EXPECT_TRUE(test::writeWav(path, layout, samples));
        return path;
    }

    std::shared_ptr<SoundBuffer> load(const std::string& path) {
        BufferDesc desc;
        desc.flags = kCtrlFrequency | kCtrlPan | kCtrlVolume;
        return device->CreateBufferFromFile(path, desc);
    }

    static void start(SoundBuffer& b) {
        b.SetPlayPosition(0);
        b.Play(0);
    }

    // Frames until the rendered output stays silent, rendering block by block.
    int64_t soundingFrames(int64_t max) {
        const auto out = driver->render(max);
        int64_t last = -1;
        for (int64_t i = 0; i < max; ++i)
            if (out[i * 2] != 0.0f || out[i * 2 + 1] != 0.0f)
                last = i;
        return last + 1;
    }

    QTemporaryDir dir;
    OfflineAudioSystem system;
    SoundRoot root{system};
    std::shared_ptr<SoundDevice> device;
    OfflineDriver* driver = nullptr;
};

TEST_F(EngineTest, BufferReportsTheFilesOwnFormat) {
    BufferDesc desc;
    desc.flags = 0xE0;
    auto b =
        device->CreateBufferFromFile(file("a.wav", {22050, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
                                          test::sine(1000, 440, 22050, 2)),
                                     desc);
    EXPECT_EQ(desc.format.samplesPerSec, 22050);
    EXPECT_EQ(desc.format.channels, 2);
    EXPECT_EQ(desc.format.bitsPerSample, 24);
    EXPECT_EQ(desc.flags, 0xE0);
    EXPECT_EQ(b->frequency(), 22050);
    EXPECT_EQ(b->GetStatus(), 0);
}

TEST_F(EngineTest, FrequencySetsTheRateAtWhichFramesAreConsumed) {
    auto b = load(file("c.wav", {}, test::constant(4410, 1, 0.5f)));
    start(*b);
    EXPECT_EQ(soundingFrames(20000), 4410);  // own rate: one frame per output frame

    b->SetFrequency(88200);
    start(*b);
    EXPECT_NEAR(soundingFrames(20000), 2205, 1);  // an octave up plays in half the time

    b->SetFrequency(22050);
    start(*b);
    EXPECT_NEAR(soundingFrames(20000), 8820, 2);
}

TEST_F(EngineTest, DoubleFrequencyDoublesThePitch) {
    auto b = load(file("s.wav", {}, test::sine(44100, 441, 44100, 1)));
    b->SetFrequency(88200);
    start(*b);
    const auto out = driver->render(11025);
    int crossings = 0;
    for (size_t i = 1; i < 11025; ++i)
        if ((out[(i - 1) * 2] < 0) != (out[i * 2] < 0))
            ++crossings;
    // 882 Hz over a quarter second: about 220 cycles, two crossings each.
    EXPECT_NEAR(crossings, 441, 3);
}

TEST_F(EngineTest, VolumeAndPanFollowTheDecibelLaws) {
    auto b = load(file("k.wav", {}, test::constant(20000, 1, 0.5f)));
    struct Case {
        int32_t volume, pan;
        double left, right;
    };
    const Case cases[] = {
        {0, 0, 0.5, 0.5},
        {-600, 0, 0.5 * std::pow(10, -0.3), 0.5 * std::pow(10, -0.3)},
        {0, -2000, 0.5, 0.05},  // pan left: the right channel drops by 20 dB
        {0, 600, 0.5 * std::pow(10, -0.3), 0.5},
        {-10000, 0, 0.0, 0.0},  // the minimum is silence
        {0, 10000, 0.0, 0.5},   // full pan silences the other side
    };
    for (const Case& c : cases) {
        b->SetVolume(c.volume);
        b->SetPan(c.pan);
        start(*b);
        const auto out = driver->render(100);
        EXPECT_NEAR(out[100], c.left, 1e-6) << c.volume << " " << c.pan;
        EXPECT_NEAR(out[101], c.right, 1e-6) << c.volume << " " << c.pan;
        b->Stop();
        driver->render(200);
    }
}

TEST_F(EngineTest, OneShotEndsByItselfAndStatusFollows) {
    auto b = load(file("e.wav", {}, test::constant(1000, 1, 0.25f)));
    EXPECT_EQ(b->GetStatus(), 0);
    start(*b);
    EXPECT_EQ(b->GetStatus(), kStatusPlaying);  // at once, before any frame is rendered
    driver->render(512);
    EXPECT_EQ(b->GetStatus(), kStatusPlaying);
    driver->render(1024);
    EXPECT_EQ(b->GetStatus(), 0);
    EXPECT_EQ(soundingFrames(1000), 0);
}

// An idle output rests so that its threads stop waking up; the next batch wakes it before
// it goes out, and a playing or fading voice or a running step clock keeps it awake.
TEST_F(EngineTest, AQuietOutputRestsUntilTheNextBatch) {
    auto b = load(file("q.wav", {}, test::constant(20000, 1, 0.25f)));
    driver->render(256);
    const int checks = SoundDevice::kQuietChecksToRest;
    for (int i = 1; i < checks; ++i) device->restWhenQuiet(false);
    device->restWhenQuiet(true);  // a step clock runs: the count starts again
    for (int i = 1; i < checks; ++i) device->restWhenQuiet(false);
    EXPECT_FALSE(driver->resting());
    device->restWhenQuiet(false);
    ASSERT_TRUE(driver->resting());
    const int64_t frozen = device->engine().framesRendered();
    driver->render(256);
    EXPECT_EQ(device->engine().framesRendered(), frozen);  // nothing asked of the device

    start(*b);
    device->engine().commit();  // what the window's posted commit does
    EXPECT_FALSE(driver->resting());
    EXPECT_EQ(soundingFrames(1024), 1024);
    // Committed but not yet rendered, then playing: never quiet.
    b->SetVolume(-600);
    device->engine().commit();
    for (int i = 0; i < 2 * checks; ++i) device->restWhenQuiet(false);
    driver->render(256);
    for (int i = 0; i < 2 * checks; ++i) device->restWhenQuiet(false);
    EXPECT_FALSE(driver->resting());

    b->Stop();
    driver->render(16);  // the cut note still fades
    device->restWhenQuiet(false);
    EXPECT_FALSE(device->engine().quiet());
    driver->render(256);
    for (int i = 0; i < checks; ++i) device->restWhenQuiet(false);
    EXPECT_TRUE(driver->resting());
}

TEST_F(EngineTest, StopKeepsThePositionAndPositionZeroRestarts) {
    std::vector<float> ramp(4000);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i) / 8000.0f;
    auto b = load(file("r.wav", {}, ramp));
    start(*b);
    driver->render(1000);
    b->Stop();
    EXPECT_EQ(b->GetStatus(), 0);
    driver->render(500);
    b->Play(0);  // carries on from where it stopped
    auto out = driver->render(1);
    EXPECT_NEAR(out[0], 1000.0f / 8000.0f, 1e-4);
    b->Stop();
    b->SetPlayPosition(0);
    b->Play(0);
    out = driver->render(100);  // past the fade of the cut note
    EXPECT_NEAR(out[80 * 2], 80.0f / 8000.0f, 1e-4);
}

TEST_F(EngineTest, OutOfRangeArgumentsRaiseTheirCode) {
    auto b = load(file("o.wav", {}, test::constant(1000, 1, 0.1f)));
    auto code = [](auto fn) {
        try {
            fn();
        } catch (const SoundError& e) {
            return e.code();
        }
        return 0u;
    };
    EXPECT_EQ(code([&] { b->SetFrequency(99); }), kErrInvalidParam);
    EXPECT_EQ(code([&] { b->SetFrequency(100001); }), kErrInvalidParam);
    EXPECT_EQ(code([&] { b->SetFrequency(100); }), 0u);
    EXPECT_EQ(code([&] { b->SetVolume(1); }), kErrInvalidParam);
    EXPECT_EQ(code([&] { b->SetPan(-10001); }), kErrInvalidParam);
    EXPECT_EQ(code([&] { b->Play(1); }), kErrInvalidParam);
    EXPECT_EQ(code([&] { device->SetCooperativeLevel(0, 1); }), 0u);
    EXPECT_EQ(b->frequency(), 100);  // a refused value changes nothing
}

TEST_F(EngineTest, CutNotesFadeOutButAttacksStayIntact) {
    auto b = load(file("f.wav", {}, test::constant(20000, 1, 0.8f)));
    start(*b);
    auto out = driver->render(64);
    EXPECT_NEAR(out[0], 0.8f, 1e-4);  // the very first frame is at full level
    b->Stop();
    out = driver->render(256);
    float largestStep = std::fabs(out[0] - 0.79998779f);
    for (size_t i = 1; i < 256; ++i)
        largestStep = std::max(largestStep, std::fabs(out[i * 2] - out[(i - 1) * 2]));
    EXPECT_LT(largestStep, 0.05f);
    EXPECT_EQ(out[255 * 2], 0.0f);
}

TEST_F(EngineTest, ABatchTakesEffectAtOnePointOfTheOutput) {
    auto a = load(file("a.wav", {}, test::constant(5000, 1, 0.25f)));
    auto b = load(file("b.wav", {}, test::constant(5000, 1, 0.5f)));
    driver->render(100);
    start(*a);
    start(*b);
    device->engine().commit(device->engine().framesRendered() + 300);
    const auto out = driver->render(1000);
    EXPECT_EQ(out[299 * 2], 0.0f);
    EXPECT_FLOAT_EQ(out[300 * 2], 0.75f);  // both notes start on the same frame
    EXPECT_EQ(device->engine().lateBatches(), 0u);

    a->Stop();
    device->engine().commit(10);  // long past: applied at once and counted
    driver->render(10);
    EXPECT_EQ(device->engine().lateBatches(), 1u);
}

// The copy of the output that a take is found by: exactly the frames asked for. Asked for
// late, the frames already gone out are silent and the rest still sits at its place.
TEST_F(EngineTest, TheOutputCopyHoldsTheFramesAskedFor) {
    auto b = load(file("k.wav", {}, test::sine(3000, 440, 44100, 1)));
    Engine& engine = device->engine();
    driver->render(1000);
    engine.copyOutput(1500, 700);
    const float* copy = nullptr;
    EXPECT_EQ(engine.copiedOutput(copy), 0);
    start(*b);
    engine.commit(1200);
    const auto out = driver->render(1500);  // frames 1000 to 2499
    ASSERT_EQ(engine.copiedOutput(copy), 700);
    EXPECT_TRUE(std::equal(copy, copy + 2 * 700, out.begin() + 2 * 500));

    engine.copyOutput(engine.framesRendered() - 100, 400);
    EXPECT_EQ(engine.copiedOutput(copy), 0);  // the new request has nothing yet
    const auto more = driver->render(300);    // frames 2500 to 2799
    ASSERT_EQ(engine.copiedOutput(copy), 400);
    EXPECT_TRUE(std::all_of(copy, copy + 2 * 100, [](float v) { return v == 0.0f; }));
    EXPECT_TRUE(std::equal(copy + 2 * 100, copy + 2 * 400, more.begin()));
    EXPECT_NE(more[0], 0.0f);
}

TEST_F(EngineTest, ReleasedBuffersFreeTheirVoiceAndMemory) {
    const std::string path = file("m.wav", {}, test::constant(3000, 1, 0.3f));
    std::weak_ptr<SoundBuffer> watch;
    {
        auto b1 = load(path);
        auto b2 = load(path);
        start(*b1);
        driver->render(100);
        EXPECT_EQ(device->engine().liveVoices(), 2);
        watch = b1;
    }
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(device->engine().liveVoices(), 0);
    EXPECT_EQ(soundingFrames(500), 0);  // a released buffer falls silent
}

TEST_F(EngineTest, ManyBatchesWithoutRenderingAreKeptInOrder) {
    auto b = load(file("q.wav", {}, test::constant(3000, 1, 0.3f)));
    for (int i = 0; i < 20000; ++i) {  // more commands than the ring holds
        b->SetVolume(-(i % 100));
        device->engine().commit();
    }
    b->SetVolume(-600);
    start(*b);
    // Whatever did not fit follows block by block; the last batch still comes last.
    const auto out = driver->render(256 * 4);
    EXPECT_NEAR(out[256 * 3 * 2], 0.3 * std::pow(10, -0.3), 1e-4);
}

// Once the output has failed, what the window asks is applied without rendering: neither
// the queue nor the released samples pile up, and the frame count stands still.
TEST(EngineWithoutOutput, AppliesEveryBatchAndFreesReleasedSamples) {
    Engine engine(44100);
    auto data = std::make_shared<SampleData>();
    data->channels = 2;
    data->sampleRate = 44100;
    data->allocate(1000);
    const std::weak_ptr<const SampleData> watch = data;
    const int32_t voice = engine.addVoice(std::move(data));
    engine.commit();
    for (int i = 0; i < 20000; ++i) {  // more commands than the ring holds
        engine.setGain(voice, 0.5f, 0.5f);
        engine.commit();
    }
    engine.removeVoice(voice);
    engine.commit();
    engine.applyWithoutOutput();
    EXPECT_EQ(engine.appliedBatches(), 20002u);
    engine.collectGarbage();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(engine.framesRendered(), 0);
}

// The engine's two threads for real: an audio thread mixes block after block while the UI
// thread loads, plays, retunes, stops and releases buffers. Run under ThreadSanitizer by
// the test command, this is where a race between them would show.
TEST_F(EngineTest, UiAndAudioThreadsShareTheEngineWithoutHarm) {
    const std::string path = file("t.wav", {}, test::constant(2000, 1, 0.2f));
    Engine& engine = device->engine();
    std::atomic<bool> done{false};
    std::atomic<bool> nonFinite{false};
    std::thread audio([&] {
        std::vector<float> out(128 * 2);
        while (!done.load(std::memory_order_acquire)) {
            engine.process(out.data(), 128);
            for (float v : out)
                if (!std::isfinite(v))
                    nonFinite.store(true);
        }
    });
    std::vector<std::shared_ptr<SoundBuffer>> kept;
    std::string failure;
    try {
        for (int i = 0; i < 400; ++i) {
            // Released voices come back once the audio thread has let go of them.
            while (engine.liveVoices() > Engine::kMaxVoices / 2) {
                std::this_thread::yield();
                engine.collectGarbage();
            }
            auto b = load(path);
            start(*b);
            b->SetFrequency(20000 + (i % 7) * 10000);
            b->SetPan((i % 21 - 10) * 100);
            engine.commit(engine.framesRendered() + 64);
            b->GetStatus();
            if (i % 40 == 0)
                kept.push_back(b);  // the others are released at once, possibly while sounding
            if (i % 3 == 0 && !kept.empty())
                kept.front()->Stop();
            engine.commit();
            engine.collectGarbage();
            // The output copy is asked for and read while the audio thread writes it.
            if (i % 50 == 0)
                engine.copyOutput(engine.framesRendered() + (i % 100 == 0 ? 64 : -64), 2048);
            const float* copy = nullptr;
            const int64_t copied = engine.copiedOutput(copy);
            for (int64_t f = 0; f < copied; ++f)
                if (!std::isfinite(copy[2 * f]))
                    nonFinite.store(true);
        }
    } catch (const SoundError& e) {
        failure = e.what();
    }
    const int64_t before = engine.framesRendered();
    while (engine.framesRendered() < before + 4096) std::this_thread::yield();
    done.store(true, std::memory_order_release);
    audio.join();
    kept.clear();
    engine.collectGarbage();
    EXPECT_EQ(failure, "");
    EXPECT_FALSE(nonFinite.load());
    EXPECT_EQ(engine.liveVoices(), 0);
}

// A slot cleared while the output rests gives its memory back at the window's next poll,
// not only at the next play.
TEST_F(EngineTest, ASampleClearedWhileTheOutputRestsIsFreed) {
    Engine& engine = device->engine();
    auto data = std::make_shared<SampleData>();
    data->allocate(1000);
    const std::weak_ptr<const SampleData> watch = data;
    const int32_t voice = engine.addVoice(std::move(data));
    engine.commit();
    std::vector<float> out(2 * 256);
    engine.process(out.data(), 256);  // the device's own thread
    engine.removeVoice(voice);
    engine.commit();  // the window's posted commit, which wakes the output, and its collection
    engine.collectGarbage();
    engine.process(out.data(), 256);  // the woken device lets go of the sample
    for (int i = 0; i < SoundDevice::kQuietChecksToRest; ++i) device->restWhenQuiet(false);
    EXPECT_TRUE(driver->resting());
    EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace zb::audio
