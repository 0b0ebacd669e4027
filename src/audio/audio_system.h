// The platform edge of the sound service: the system mixer check and the output stream.
// The real system goes through the sound server's own client library (pulse_output.h) and,
// where no server answers, through RtAudio (ALSA, JACK); the offline one renders on demand
// for tests and benchmarks.
//
// Threads: every method is UI thread unless its comment says otherwise; OfflineDriver::render
// is called by whoever drives the offline clock (a test's main thread).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/wakeup_watch.h"

namespace zb::audio {

class Engine;

class OutputDriver {
public:
    virtual ~OutputDriver();
    virtual int sampleRate() const = 0;
    // Starts calling engine.process from the driver's clock; the engine outlives the driver's
    // running state (stop() is called before the engine goes away).
    virtual void start(Engine& engine) = 0;
    virtual void stop() = 0;
    // True when a real device clocks the output; false for the offline driver.
    virtual bool realtime() const = 0;
    // Frames between process() and the sound leaving the device, as far as known.
    virtual int64_t latencyFrames() const { return 0; }
    // UI thread. The engine's frame count moves a period at a time; this is how far the
    // device has played on since the last period was handed over (at most one period).
    virtual int64_t framesSinceLastPeriod() const { return 0; }
    // The most frames the engine renders in one go: a step's batch must reach the engine
    // before the chunk that holds its frame is rendered.
    virtual int64_t chunkFrames() const { return 0; }
    // Set once the device has failed (the sound server went away).
    virtual bool failed() const { return false; }
    // UI thread, after stop() of a failed driver: opens the stream again (the sound server
    // came back); false while it cannot. A driver that cannot reconnect stays failed.
    virtual bool reconnect() { return false; }
    // The stream thread's wake-up gaps, for benchmarks; null when no thread feeds a device.
    virtual WakeupWatch* wakeups() { return nullptr; }

    // UI thread. While nothing sounds the output may rest: the device is no longer asked
    // for frames, so its threads stop waking up, and the frame count stands still. wake()
    // starts it again before anything is to be heard; false when the device refused (it
    // has failed). A driver without a thread of its own never rests.
    virtual void rest() {}
    virtual bool wake() { return true; }
    virtual bool resting() const { return false; }

    // UI thread. Lets the device queue up to `frames` more sound ahead of what is heard
    // (toward its depth for a running loop), so that a stall of the machine does not run it
    // dry; returns the frames added, 0 when it is at that depth or cannot grow. The frame
    // count then runs ahead by that much at once. shallow() returns to the usual depth;
    // with `dropQueued` what is queued but not yet heard is dropped instead of played out.
    virtual int64_t deepen(int64_t frames) {
        (void)frames;
        return 0;
    }
    virtual void shallow(bool dropQueued) { (void)dropQueued; }
};

class AudioSystem {
public:
    virtual ~AudioSystem();
    // True when a sound server or sound card is reachable.
    virtual bool openMixer() = 0;
    // Opens the output stream for the device id (empty: the default); throws SoundError.
    virtual std::unique_ptr<OutputDriver> openOutput(const std::string& deviceId) = 0;
};

// Renders only when asked: deterministic output for tests and benchmarks.
class OfflineDriver : public OutputDriver {
public:
    explicit OfflineDriver(int rate = 44100) : rate_(rate) {}
    int sampleRate() const override { return rate_; }
    void start(Engine& engine) override { engine_ = &engine; }
    void stop() override { engine_ = nullptr; }
    bool realtime() const override { return false; }
    // Resting, it renders silence and the frame count stands still, as a real device would.
    void rest() override { resting_ = true; }
    bool wake() override {
        resting_ = false;
        return true;
    }
    bool resting() const override { return resting_; }

    // Commits what the UI thread queued (which wakes a resting driver), then renders
    // `frames` stereo frames.
    std::vector<float> render(int64_t frames);
    void render(float* interleaved, int64_t frames);

private:
    int rate_;
    Engine* engine_ = nullptr;
    bool resting_ = false;
};

class OfflineAudioSystem : public AudioSystem {
public:
    explicit OfflineAudioSystem(int rate = 44100) : rate_(rate) {}
    bool openMixer() override { return mixer_; }
    std::unique_ptr<OutputDriver> openOutput(const std::string& deviceId) override;

    // Hardware doubles for the start-up paths.
    void setMixerAvailable(bool available) { mixer_ = available; }
    void setOutputFails(bool fails) { outputFails_ = fails; }
    // The driver handed out by the last openOutput, to render with.
    OfflineDriver* driver() const { return last_; }

private:
    int rate_;
    bool mixer_ = true;
    bool outputFails_ = false;
    OfflineDriver* last_ = nullptr;
};

// The system's default device: the PulseAudio / PipeWire server through libpulse, else
// ALSA or JACK through RtAudio.
class RtAudioSystem : public AudioSystem {
public:
    bool openMixer() override;
    std::unique_ptr<OutputDriver> openOutput(const std::string& deviceId) override;

private:
    std::unique_ptr<OutputDriver> probed_;  // opened by openMixer, not yet handed out
};

}  // namespace zb::audio
