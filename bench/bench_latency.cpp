// Output latency of the engine through PulseAudio: the time from a buffer's Play to the
// moment its sound reaches the monitor of the default sink, measured with the real engine
// (RtAudioSystem, the default device) and an RtAudio recording stream on the default input,
// which the bench session sets to the null sink's monitor.
//
// Method. The recording stream delivers small fragments; its callback stamps each one with
// CLOCK_MONOTONIC and the stream's running frame count. A fragment can arrive late (its
// thread may be scheduled late) but never before its frames exist, so the lower envelope
// of (frame count, time) tells when each recorded frame became available: a line is fitted
// through the fragments (its slope absorbs the sink's clock, which runs off the system
// clock), then moved down to the earliest fragment near each click. The Play call is
// stamped on the same clock just before it is made, and its batch is committed at once (as
// the window's posted commit does after the event), so the latency of one click is its
// first loud frame's availability minus that stamp. Error: the estimate may be early by up
// to one recording fragment (frames that came in one piece are spread over the fragment's
// duration) and late by the scheduling delay of the fastest fragments, typically well under
// 0.1 ms. The "ceiling" is the stamp of the callback that held the click, which can only
// be late.
//
// After the clicks, three seconds of a constant level are played and the monitor is
// searched for drop-outs: an underrun of the output stream shows there as a gap.
//
// Usage: bench_latency [clicks] [PERIODxBUFFERS ...]
//   clicks          clicks per configuration (default 20)
//   PERIODxBUFFERS  also measures the same engine behind a stream opened the same way
//                   with another period and buffer count (e.g. 128x2 128x3), to compare
#include <RtAudio.h>
#include <sndfile.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/sound.h"
#include "support/bench_support.h"

namespace {

constexpr unsigned int kRate = 44100;
constexpr unsigned int kInputFrames = 64;  // 1.45 ms fragments: the method's resolution
constexpr float kLoud = 0.25f;
constexpr float kQuiet = 0.1f;
constexpr int64_t kQuietGap = 2000;  // frames of quiet before a new onset counts
constexpr int64_t kToneFrames = 3 * kRate;

int64_t nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Written by the recording callback only, into storage sized before the stream starts;
// the main thread reads the published counts.
struct Recorder {
    struct Fragment {
        int64_t t;      // CLOCK_MONOTONIC at the callback, ns
        int64_t endAt;  // frames recorded up to and including this fragment
    };
    std::vector<Fragment> fragments;
    std::vector<int64_t> onsets;       // frame of each onset
    std::vector<int64_t> onsetStamps;  // t of the fragment that held it
    std::atomic<size_t> nFragments{0};
    std::atomic<size_t> nOnsets{0};
    std::atomic<int> dropouts{0};  // sound back after a gap in a sound 100 ms long
    int64_t frames = 0;
    int64_t quiet = kQuietGap;
    int64_t loudRun = 0;
    int64_t loudBeforeQuiet = 0;

    static int callback(void*, void* in, unsigned int n, double, RtAudioStreamStatus, void* user) {
        const int64_t t = nowNs();
        auto* self = static_cast<Recorder*>(user);
        const auto* s = static_cast<const float*>(in);
        size_t nOn = self->nOnsets.load(std::memory_order_relaxed);
        for (unsigned int i = 0; i < n; ++i) {
            const float level = std::fabs(s[2 * i]);
            if (level > kLoud) {
                if (self->quiet >= kQuietGap && nOn < self->onsets.size()) {
                    self->onsets[nOn] = self->frames + i;
                    self->onsetStamps[nOn] = t;
                    ++nOn;
                }
                if (self->quiet > 0 && self->loudBeforeQuiet >= kRate / 10)
                    self->dropouts.fetch_add(1, std::memory_order_relaxed);
                if (self->quiet > 0)
                    self->loudRun = 0;
                self->quiet = 0;
                ++self->loudRun;
            } else if (level < kQuiet) {
                if (self->quiet == 0)
                    self->loudBeforeQuiet = self->loudRun;
                ++self->quiet;
            }
        }
        self->frames += n;
        const size_t k = self->nFragments.load(std::memory_order_relaxed);
        if (k < self->fragments.size()) {
            self->fragments[k] = {t, self->frames};
            self->nFragments.store(k + 1, std::memory_order_release);
        }
        self->nOnsets.store(nOn, std::memory_order_release);
        return 0;
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The latency figures the sound server itself reports for the playback streams.
std::string serverView() {
    FILE* p = popen("pactl list sink-inputs 2>/dev/null", "r");
    if (!p)
        return {};
    std::string out, line;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) {
        line = buf;
        if (line.find("Buffer Latency") != std::string::npos ||
            line.find("Sink Latency") != std::string::npos) {
            line.erase(0, line.find_first_not_of(" \t"));
            line.erase(line.find_last_not_of("\n") + 1);
            out += (out.empty() ? "" : ", ") + line;
        }
    }
    pclose(p);
    return out;
}

// An output stream opened like the program's own but with a chosen period and buffer
// count, behind the same engine: only for comparing configurations.
class TrialDriver : public zb::audio::OutputDriver {
public:
    TrialDriver(unsigned int period, unsigned int buffers) : rt_(RtAudio::LINUX_PULSE) {
        rt_.showWarnings(false);
        RtAudio::StreamParameters params;
        params.deviceId = rt_.getDefaultOutputDevice();
        params.nChannels = 2;
        RtAudio::StreamOptions options;
        options.flags = RTAUDIO_MINIMIZE_LATENCY;
        options.numberOfBuffers = buffers;
        options.streamName = "bench_latency trial";
        rt_.openStream(&params, nullptr, RTAUDIO_FLOAT32, kRate, &period, &TrialDriver::callback,
                       this, &options);
    }
    ~TrialDriver() override { stop(); }
    int sampleRate() const override { return kRate; }
    bool realtime() const override { return true; }
    void start(zb::audio::Engine& engine) override {
        engine_.store(&engine);
        rt_.startStream();
    }
    void stop() override {
        if (rt_.isStreamOpen()) {
            if (rt_.isStreamRunning())
                rt_.abortStream();
            rt_.closeStream();
        }
        engine_.store(nullptr);
    }
    static int callback(void* out, void*, unsigned int frames, double, RtAudioStreamStatus,
                        void* user) {
        auto* self = static_cast<TrialDriver*>(user);
        if (auto* engine = self->engine_.load())
            engine->process(static_cast<float*>(out), frames);
        else
            std::fill_n(static_cast<float*>(out), frames * 2, 0.0f);
        return 0;
    }

private:
    RtAudio rt_;
    std::atomic<zb::audio::Engine*> engine_{nullptr};
};

class TrialSystem : public zb::audio::AudioSystem {
public:
    TrialSystem(unsigned int period, unsigned int buffers) : period_(period), buffers_(buffers) {}
    bool openMixer() override { return true; }
    std::unique_ptr<zb::audio::OutputDriver> openOutput(const std::string&) override {
        try {
            return std::make_unique<TrialDriver>(period_, buffers_);
        } catch (const RtAudioError& e) {
            throw zb::audio::SoundError(zb::audio::kErrNoDriver, e.getMessage());
        }
    }

private:
    unsigned int period_, buffers_;
};

struct Files {
    std::string click, tone;
};

// Measures one configuration; false when no sound device could be opened.
bool measure(zb::audio::AudioSystem& system, const std::string& label, const Files& files,
             int clicks) {
    auto rec = std::make_unique<Recorder>();
    const double seconds = clicks * 0.3 + 15.0;
    rec->fragments.resize(static_cast<size_t>(seconds * kRate / kInputFrames * 2));
    rec->onsets.resize(static_cast<size_t>(clicks) * 4 + 64);
    rec->onsetStamps.resize(rec->onsets.size());
    RtAudio input(RtAudio::LINUX_PULSE);
    input.showWarnings(false);
    std::string inputName;
    try {
        if (input.getDeviceCount() == 0)
            return false;
        RtAudio::StreamParameters params;
        params.deviceId = input.getDefaultInputDevice();
        params.nChannels = 2;
        inputName = input.getDeviceInfo(params.deviceId).name;
        RtAudio::StreamOptions options;
        options.flags = RTAUDIO_MINIMIZE_LATENCY;
        options.numberOfBuffers = 4;
        options.streamName = "bench_latency";
        unsigned int frames = kInputFrames;
        input.openStream(nullptr, &params, RTAUDIO_FLOAT32, kRate, &frames, &Recorder::callback,
                         rec.get(), &options);
    } catch (const RtAudioError&) {
        return false;
    }

    zb::audio::SoundRoot root(system);
    std::shared_ptr<zb::audio::SoundDevice> device;
    std::shared_ptr<zb::audio::SoundBuffer> click, tone;
    try {
        device = root.CreateSoundDevice("");
        zb::audio::BufferDesc desc;
        desc.flags = zb::audio::kCtrlFrequency | zb::audio::kCtrlPan | zb::audio::kCtrlVolume;
        click = device->CreateBufferFromFile(files.click, desc);
        tone = device->CreateBufferFromFile(files.tone, desc);
    } catch (const zb::audio::SoundError& e) {
        std::printf("latency: %s: no sound device (%s)\n", label.c_str(), e.what());
        return false;
    }
    zb::audio::Engine& engine = device->engine();
    input.startStream();

    // A sink that has just been joined can take a second or more to settle on the streams'
    // small latency; wait until both streams have flowed for half a second.
    int steady = 0;
    for (int i = 0; i < 200 && steady < 10; ++i) {
        const int64_t f = engine.framesRendered();
        const size_t k = rec->nFragments.load();
        sleepMs(50);
        steady = (engine.framesRendered() > f && rec->nFragments.load() > k) ? steady + 1 : 0;
    }
    if (steady < 10) {
        std::printf("latency: %s: the streams did not start flowing\n", label.c_str());
        return true;
    }
    const size_t firstFragment = rec->nFragments.load(std::memory_order_acquire);

    // The engine's period as its stream actually runs: the steps of its frame counter.
    std::map<int64_t, int> steps;
    int64_t last = engine.framesRendered();
    for (int i = 0; i < 1500; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        const int64_t f = engine.framesRendered();
        if (f != last)
            ++steps[f - last];
        last = f;
    }
    int64_t period = 0;
    int best = 0;
    for (auto [step, count] : steps) {
        if (count > best) {
            best = count;
            period = step;
        }
    }
    const std::string server = serverView();

    const int64_t tRun0 = nowNs();
    const int64_t fRun0 = engine.framesRendered();
    std::vector<int64_t> plays;
    std::mt19937 rng(7);
    // Random gaps, so that the Play calls fall on every phase of the output period.
    std::uniform_int_distribution<int> gap(180000, 300000);
    for (int i = 0; i < clicks; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(gap(rng)));
        click->Stop();
        click->SetPlayPosition(0);
        const int64_t t = nowNs();
        click->Play(0);
        engine.commit();
        plays.push_back(t);
    }
    sleepMs(300);
    const double outputRate = (engine.framesRendered() - fRun0) / ((nowNs() - tRun0) * 1e-9);

    // The same clicks, each after the output has rested (as it does while the window is
    // idle): the commit starts the stream again before the click goes out.
    std::vector<int64_t> wakePlays;
    for (int i = 0; i < clicks / 2; ++i) {
        sleepMs(150);
        device->driver().rest();
        std::this_thread::sleep_for(std::chrono::microseconds(gap(rng) / 4));
        click->Stop();
        click->SetPlayPosition(0);
        const int64_t t = nowNs();
        click->Play(0);
        engine.commit();
        wakePlays.push_back(t);
    }
    sleepMs(300);
    const size_t nOn = rec->nOnsets.load(std::memory_order_acquire);
    const size_t nFrag = rec->nFragments.load(std::memory_order_acquire);

    // The constant level, for drop-outs.
    tone->SetPlayPosition(0);
    tone->Play(0);
    engine.commit();
    sleepMs(static_cast<int>(kToneFrames * 1000 / kRate) + 300);
    const int dropouts = rec->dropouts.load();
    input.stopStream();
    input.closeStream();
    engine.collectGarbage();

    std::printf("latency: %s: engine period %lld frames as run, stream consumed %.0f frames/s",
                label.c_str(), static_cast<long long>(period), outputRate);
    if (!server.empty())
        std::printf("; server: %s", server.c_str());
    std::printf("\n");
    if (nFrag < firstFragment + 100) {
        std::printf("latency: %s: the recording stream delivered only %zu fragments\n",
                    label.c_str(), nFrag - firstFragment);
        return true;
    }

    // Least-squares line t = a + b * frame over the fragments, then its lower envelope.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const double t0 = static_cast<double>(rec->fragments[firstFragment].t);
    const double x0 = static_cast<double>(rec->fragments[firstFragment].endAt);
    for (size_t i = firstFragment; i < nFrag; ++i) {
        const double x = rec->fragments[i].endAt - x0;
        const double y = rec->fragments[i].t - t0;
        sx += x, sy += y, sxx += x * x, sxy += x * y;
    }
    const double n = static_cast<double>(nFrag - firstFragment);
    const double b = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    const double a = (sy - b * sx) / n;
    auto line = [&](int64_t frame) { return t0 + a + b * (frame - x0); };
    auto availableAt = [&](int64_t frame) {
        // The earliest fragment within half a second of the frame.
        double low = 1e300;
        for (size_t i = firstFragment; i < nFrag; ++i)
            if (std::llabs(rec->fragments[i].endAt - frame) <= static_cast<int64_t>(kRate / 2))
                low = std::min(low, rec->fragments[i].t - line(rec->fragments[i].endAt));
        return line(frame + 1) + low;
    };

    std::vector<double> latencies, ceilings, wakeCeilings;
    size_t next = 0;
    int missed = 0;
    for (int64_t play : wakePlays) {
        while (next < nOn && rec->onsetStamps[next] < play) ++next;
        if (next < nOn && rec->onsetStamps[next] - play <= 250'000'000)
            wakeCeilings.push_back((rec->onsetStamps[next++] - play) / 1e6);
    }
    next = 0;
    for (int64_t play : plays) {
        while (next < nOn && rec->onsetStamps[next] < play) ++next;
        if (next >= nOn || rec->onsetStamps[next] - play > 250'000'000) {
            ++missed;
            continue;
        }
        latencies.push_back((availableAt(rec->onsets[next]) - play) / 1e6);
        ceilings.push_back((rec->onsetStamps[next] - play) / 1e6);
        ++next;
    }
    if (latencies.empty()) {
        std::printf(
            "latency: %s: no click arrived at \"%s\" (the default input must be the "
            "default sink's monitor)\n",
            label.c_str(), inputName.c_str());
        return true;
    }
    std::printf(
        "latency: %s: Play to monitor: median %.1f ms, max %.1f ms over %zu clicks "
        "(goal <= 25 ms); ceiling median %.1f ms, max %.1f ms\n",
        label.c_str(), median(latencies), *std::max_element(latencies.begin(), latencies.end()),
        latencies.size(), median(ceilings), *std::max_element(ceilings.begin(), ceilings.end()));
    if (!wakeCeilings.empty())
        std::printf(
            "latency: %s: after the output rested: ceiling median %.1f ms, max %.1f ms over "
            "%zu clicks (the stream starts again first)\n",
            label.c_str(), median(wakeCeilings),
            *std::max_element(wakeCeilings.begin(), wakeCeilings.end()), wakeCeilings.size());
    std::printf("latency: %s: drop-outs in %.0f s of steady sound: %d (goal 0)%s\n", label.c_str(),
                static_cast<double>(kToneFrames) / kRate, dropouts,
                missed ? (", " + std::to_string(missed) + " clicks not heard").c_str() : "");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int clicks = 20;
    std::vector<std::pair<unsigned int, unsigned int>> trials;
    for (int i = 1; i < argc; ++i) {
        unsigned int p = 0, b = 0;
        if (std::sscanf(argv[i], "%ux%u", &p, &b) == 2 && p > 0 && b > 0)
            trials.emplace_back(p, b);
        else
            clicks = std::max(5, std::atoi(argv[i]));
    }

    // RtAudio's PulseAudio backend lists its device even when no server runs and fails on
    // open, so opening the recording stream is the check that a server answers.
    std::vector<RtAudio::Api> apis;
    RtAudio::getCompiledApi(apis);
    bool reachable = std::find(apis.begin(), apis.end(), RtAudio::LINUX_PULSE) != apis.end();
    if (reachable) {
        try {
            RtAudio probe(RtAudio::LINUX_PULSE);
            probe.showWarnings(false);
            RtAudio::StreamParameters params;
            params.deviceId = probe.getDefaultInputDevice();
            params.nChannels = 2;
            unsigned int frames = kInputFrames;
            // A callback of its own: it must not touch a recorder.
            auto none = [](void*, void*, unsigned int, double, RtAudioStreamStatus, void*) {
                return 0;
            };
            probe.openStream(nullptr, &params, RTAUDIO_FLOAT32, kRate, &frames, none, nullptr);
            probe.closeStream();
        } catch (const RtAudioError&) {
            reachable = false;
        }
    }
    if (!reachable) {
        std::printf("latency: skipped: no sound server\n");
        return 0;
    }

    const char* tmp = std::getenv("TMPDIR");
    const std::string base =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_latency_" + std::to_string(getpid());
    Files files{base + "_click.wav", base + "_tone.wav"};
    // A 100-frame square burst, then silence: one sharp onset. The tone is a constant level,
    // which no filter on the way changes.
    const std::vector<float> click = zb::bench::clickSamples(600, 100, 0.8f, 10);
    const std::vector<float> tone(kToneFrames, 0.5f);
    if (!zb::bench::writeMonoWav(files.click, click) ||
        !zb::bench::writeMonoWav(files.tone, tone)) {
        std::fprintf(stderr, "cannot write the test sounds under %s\n", base.c_str());
        return 1;
    }

    zb::audio::RtAudioSystem system;
    bool ok = measure(system, "engine", files, clicks);
    if (!ok)
        std::printf("latency: skipped: no sound server\n");
    if (ok) {
        for (const auto& [period, buffers] : trials) {
            TrialSystem trial(period, buffers);
            measure(trial, "trial " + std::to_string(period) + "x" + std::to_string(buffers), files,
                    clicks);
        }
    }
    std::remove(files.click.c_str());
    std::remove(files.tone.c_str());
    return 0;
}
