// Real-time factor of the mixer: twelve buffers playing at once at mixed rates, rendered
// through the offline driver on one core. Prints one line per figure with its goal.
#include <time.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/sound.h"

using namespace zb::audio;

int main() {
    OfflineAudioSystem system;
    SoundRoot root(system);
    auto device = root.CreateSoundDevice("");
    Engine& engine = device->engine();

    // Ten seconds of noise-like material, long enough that no buffer ends while measured.
    auto data = std::make_shared<SampleData>();
    data->channels = 2;
    data->sampleRate = 44100;
    data->allocate(44100 * 30);
    uint32_t x = 12345;
    for (float& s : data->samples) {
        x = x * 1664525u + 1013904223u;
        s = static_cast<float>(static_cast<int32_t>(x)) / 4294967296.0f;
    }
    const int rates[] = {44600, 20000, 50000};
    std::vector<int32_t> voices;
    for (int i = 0; i < 12; ++i) {
        const int32_t v = engine.addVoice(data);
        engine.setRate(v, rates[i % 3]);
        engine.setGain(v, 0.1f, 0.1f);
        engine.setPosition(v, 0);
        engine.play(v);
        voices.push_back(v);
    }
    engine.commit();

    const int64_t frames = 44100 * 10;
    std::vector<float> out(256 * 2);
    // CPU time of this thread: the figure for one core, whatever else the machine runs.
    auto cpuNow = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return ts.tv_sec + ts.tv_nsec * 1e-9;
    };
    const double t0 = cpuNow();
    for (int64_t done = 0; done < frames; done += 256) engine.process(out.data(), 256);
    const double seconds = cpuNow() - t0;
    const double factor = (frames / 44100.0) / seconds;
    std::printf("engine: 12 voices at 44600/20000/50000 Hz: %.0fx real time (goal >= 200x)\n",
                factor);
    for (int32_t v : voices) engine.removeVoice(v);
    engine.commit();
    engine.process(out.data(), 256);
    engine.collectGarbage();

    // Aliasing: tones that a rate change pushes above the output's Nyquist frequency must not
    // come back. Sweep tones and rates, report the loudest leak relative to the tone's level.
    // A tone at output frequency f above the Nyquist frequency N folds to 2N - f: those that
    // would land below 0.8 N (17.6 kHz) count against the goal; the ones that would land in
    // the filter's transition band, between 0.8 N and N, are reported apart.
    double worst = -300.0, worstTransition = -300.0;
    std::vector<float> block(4096 * 2);
    for (double tone = 2000; tone <= 21000; tone += 1000) {
        auto sine = std::make_shared<SampleData>();
        sine->channels = 1;
        sine->sampleRate = 44100;
        sine->allocate(44100);
        for (int64_t i = 0; i < sine->frames; ++i)
            sine->channel(0)[i] = static_cast<float>(std::sin(2 * M_PI * tone * i / 44100.0));
        for (int rate = 1000; rate <= 100000; rate += 1500) {
            const double outHz = tone * rate / 44100.0;
            if (outHz <= 22050.0)
                continue;  // lands inside the band
            const int32_t v = engine.addVoice(sine);
            engine.setRate(v, rate);
            engine.setPosition(v, 0);
            engine.play(v);
            engine.commit();
            engine.process(block.data(), 1024);  // let the kernel fill
            engine.process(block.data(), 4096);
            double sum = 0;
            for (int i = 0; i < 4096; ++i) sum += double(block[2 * i]) * block[2 * i];
            const double db = 10 * std::log10(sum / 4096 / 0.5 + 1e-30);
            if (outHz >= 22050.0 * 1.2)
                worst = std::max(worst, db);
            else
                worstTransition = std::max(worstTransition, db);
            engine.removeVoice(v);
            engine.commit();
            engine.process(block.data(), 256);
            engine.collectGarbage();
        }
    }
    std::printf("engine: worst aliasing folding below 17.6 kHz: %.1f dB (goal <= -80 dB)\n", worst);
    std::printf("engine: worst aliasing folding into 17.6-22.05 kHz: %.1f dB (transition band)\n",
                worstTransition);
    return 0;
}
