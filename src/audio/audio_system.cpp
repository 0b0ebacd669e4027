#include "audio/audio_system.h"

#include <RtAudio.h>

#include <algorithm>
#include <atomic>

#include "audio/engine.h"
#include "audio/pulse_output.h"
#include "audio/realtime_threads.h"
#include "audio/rtaudio_errors.h"
#include "audio/stream_health.h"

namespace zb::audio {

OutputDriver::~OutputDriver() = default;
AudioSystem::~AudioSystem() = default;

// ---- Offline ----

namespace {
// The offline driver renders in blocks of this size, like a sound card with small periods.
constexpr int64_t kOfflineBlock = 256;
}  // namespace

std::vector<float> OfflineDriver::render(int64_t frames) {
    std::vector<float> out(static_cast<size_t>(frames) * 2);
    render(out.data(), frames);
    return out;
}

void OfflineDriver::render(float* interleaved, int64_t frames) {
    if (engine_ && engine_->hasUncommitted())
        engine_->commit();
    if (!engine_ || resting_) {
        std::fill(interleaved, interleaved + frames * 2, 0.0f);
        return;
    }
    for (int64_t done = 0; done < frames; done += kOfflineBlock) {
        const int64_t n = std::min(kOfflineBlock, frames - done);
        engine_->process(interleaved + done * 2, static_cast<uint32_t>(n));
        // This thread is also the UI thread here: move on what waits for room in the ring.
        engine_->collectGarbage();
    }
}

std::unique_ptr<OutputDriver> OfflineAudioSystem::openOutput(const std::string&) {
    if (outputFails_)
        throw SoundError(kErrNoDriver, "no output device");
    auto driver = std::make_unique<OfflineDriver>(rate_);
    last_ = driver.get();
    return driver;
}

// ---- RtAudio ----

namespace {

constexpr unsigned int kRate = 44100;
// Small periods keep the output latency low through PulseAudio (its default adds >100 ms).
// RtAudio caps the server's buffer at period x count, which is also how late the output
// thread may wake before the device runs dry. Measured here from Play to the sink's
// monitor: 4 x 112 frames 8.2 ms (max 9.2); 3 x 128 frames 7.1 ms, but with both cores busy
// it ran dry in about every second measurement, 4 x 112 in 1 of 24; 2 x 256 reached 11-14 ms.
constexpr unsigned int kPeriodFrames = 112;
constexpr unsigned int kPeriods = 4;

// The APIs tried, in order: the sound server first, then the bare card.
std::vector<RtAudio::Api> candidateApis() {
    std::vector<RtAudio::Api> compiled;
    RtAudio::getCompiledApi(compiled);
    std::vector<RtAudio::Api> order;
    for (RtAudio::Api want : {RtAudio::LINUX_PULSE, RtAudio::UNIX_JACK, RtAudio::LINUX_ALSA})
        for (RtAudio::Api api : compiled)
            if (api == want)
                order.push_back(api);
    return order;
}

RtAudioErrorTally outputTally;

class RtAudioDriver : public OutputDriver {
public:
    explicit RtAudioDriver(std::unique_ptr<RtAudio> rt, unsigned int rate, unsigned int period)
        : rt_(std::move(rt)), rate_(rate), period_(period) {}
    ~RtAudioDriver() override { stop(); }

    int sampleRate() const override { return static_cast<int>(rate_); }
    bool realtime() const override { return true; }
    bool failed() const override {
        return failed_.load(std::memory_order_relaxed) ||
               outputTally.errors.load(std::memory_order_relaxed) != errorBase_;
    }
    WakeupWatch* wakeups() override { return &wakeups_; }
    int64_t latencyFrames() const override {
        // RtAudio's PulseAudio back end reports 0. Then: the periods queued in the server
        // when a period has just been handed over, the sound still to come out of the last
        // frame rendered. (Measured on the null sink's monitor, with the time since that
        // hand-over added, a take's first onset then lands within about 1 ms.)
        long reported = 0;
        try {
            reported = rt_->getStreamLatency();
        } catch (const RtAudioError&) {
        }
        return reported > 0 ? reported : int64_t{period_} * kPeriods;
    }
    int64_t chunkFrames() const override { return period_; }
    int64_t framesSinceLastPeriod() const override {
        if (resting_)
            return 0;
        const int64_t frames = wakeups_.sinceLastNs() * rate_ / 1000000000;
        return std::clamp<int64_t>(frames, 0, period_);
    }

    void start(Engine& engine) override {
        engine_.store(&engine, std::memory_order_release);
        try {
            if (!rt_->isStreamRunning())
                rt_->startStream();
        } catch (const RtAudioError& e) {
            failed_.store(true);
            throw SoundError(kErrNoDriver, e.getMessage());
        }
        // With an error callback set, RtAudio reports a failed start there instead of
        // throwing.
        if (failed())
            throw SoundError(kErrNoDriver, "the output stream did not start");
    }

    void rest() override {
        if (resting_ || failed())
            return;
        try {
            // Only silence is queued after a quiet spell: dropping it loses nothing.
            if (rt_->isStreamRunning())
                rt_->abortStream();
            resting_ = true;
        } catch (const RtAudioError&) {
            failed_.store(true);
        }
    }

    bool wake() override {
        if (!resting_)
            return !failed();
        resting_ = false;
        wakeups_.reset();  // the rest is no drop-out
        try {
            rt_->startStream();
        } catch (const RtAudioError&) {
            failed_.store(true);
        }
        return !failed();
    }

    bool resting() const override { return resting_; }

    void stop() override {
        try {
            // Without a stream (the open failed) there is nothing to stop.
            if (rt_ && rt_->isStreamOpen()) {
                if (rt_->isStreamRunning())
                    rt_->abortStream();
                rt_->closeStream();
            }
        } catch (const RtAudioError&) {
            // The device is gone; nothing left to stop.
        }
        engine_.store(nullptr, std::memory_order_release);
    }

    // Audio thread.
    static int callback(void* out, void*, unsigned int frames, double, RtAudioStreamStatus,
                        void* user) {
        auto* self = static_cast<RtAudioDriver*>(user);
        auto* samples = static_cast<float*>(out);
        self->wakeups_.tick();
        if (!self->raised_) {
            // Once, before the first period is heard.
            self->raised_ = true;
            RaiseCallingThread();
        }
        // A failed stream is aborted (2) so that its thread waits instead of spinning; the
        // UI thread sees failed() and closes it. A single bad period (an underrun) is only
        // a gap in the sound.
        if (self->health_.note(outputTally.warnings.load(std::memory_order_relaxed),
                               outputTally.errors.load(std::memory_order_relaxed)) ==
            PeriodHealth::Failed) {
            self->failed_.store(true, std::memory_order_relaxed);
            for (unsigned int i = 0; i < frames * 2; ++i) samples[i] = 0.0f;
            return 2;
        }
        Engine* engine = self->engine_.load(std::memory_order_acquire);
        if (engine) {
            engine->process(samples, frames);
        } else {
            for (unsigned int i = 0; i < frames * 2; ++i) samples[i] = 0.0f;
        }
        return 0;
    }

    std::unique_ptr<RtAudio> rt_;
    unsigned int rate_;
    unsigned int period_;
    std::atomic<Engine*> engine_{nullptr};
    std::atomic<bool> failed_{false};
    uint64_t errorBase_ = outputTally.errors.load(std::memory_order_relaxed);
    StreamHealth health_{outputTally.warnings.load(std::memory_order_relaxed),
                         errorBase_};  // audio thread
    WakeupWatch wakeups_;
    bool raised_ = false;   // audio thread only
    bool resting_ = false;  // UI thread only
};

// Opens a stream on the API's default output device; null when the API has none.
std::unique_ptr<RtAudioDriver> openOn(RtAudio::Api api) {
    try {
        auto rt = std::make_unique<RtAudio>(api);
        rt->showWarnings(false);
        if (rt->getDeviceCount() == 0)
            return nullptr;
        RtAudio::StreamParameters params;
        params.deviceId = rt->getDefaultOutputDevice();
        params.nChannels = 2;
        RtAudio::StreamOptions options;
        options.flags = RTAUDIO_MINIMIZE_LATENCY;
        options.numberOfBuffers = kPeriods;
        options.streamName = "Zembrola";
        unsigned int period = kPeriodFrames;
        auto driver = std::make_unique<RtAudioDriver>(nullptr, kRate, period);
        rt->openStream(&params, nullptr, RTAUDIO_FLOAT32, kRate, &period, &RtAudioDriver::callback,
                       driver.get(), &options, &countRtAudioError<outputTally>);
        driver->rt_ = std::move(rt);
        driver->period_ = period;
        driver->rate_ = driver->rt_->getStreamSampleRate();
        // The server holds at most the periods RtAudio asked for.
        driver->wakeups_.setBudget(int64_t{period} * kPeriods * 1000000000 / driver->rate_);
        RaiseSoundLibraryThreads();
        return driver;
    } catch (const RtAudioError&) {
        return nullptr;
    }
}

}  // namespace

bool RtAudioSystem::openMixer() {
    // The stream that proves a device is reachable is kept for the device that follows.
    try {
        if (auto driver = openPulseOutput()) {
            probed_ = std::move(driver);
            return true;
        }
    } catch (const SoundError&) {
        return true;  // a server answers; opening the output will say what it refused
    }
    for (RtAudio::Api api : candidateApis()) {
        if (auto driver = openOn(api)) {
            probed_ = std::move(driver);
            return true;
        }
    }
    return false;
}

std::unique_ptr<OutputDriver> RtAudioSystem::openOutput(const std::string& deviceId) {
    if (!deviceId.empty())
        throw SoundError(kErrInvalidParam, "only the default device is offered");
    if (probed_)
        return std::move(probed_);
    if (auto driver = openPulseOutput())
        return driver;
    for (RtAudio::Api api : candidateApis()) {
        if (auto driver = openOn(api))
            return driver;
    }
    throw SoundError(kErrNoDriver, "no sound output could be opened");
}

}  // namespace zb::audio
