#include "audio/pulse_output.h"

#include <pulse/pulseaudio.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "audio/engine.h"
#include "audio/pulse_connection.h"
#include "audio/realtime_threads.h"

namespace zb::audio {

namespace {

constexpr int kRate = 44100;
constexpr size_t kFrameBytes = 2 * sizeof(float);

int64_t monotonicNs() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

class PulseDriver : public OutputDriver {
public:
    ~PulseDriver() override { release(); }

    bool reconnect() override {
        release();
        failed_.store(false, std::memory_order_relaxed);
        resting_ = false;
        raised_ = false;  // the old main-loop thread is gone; the new one raises itself
        wakeups_.reset();
        try {
            if (open())
                return true;
        } catch (const SoundError&) {
        }
        release();
        failed_.store(true, std::memory_order_relaxed);
        return false;
    }

    // UI thread. False when no server answers; throws when one answers but the stream fails.
    bool open() {
        pulse_ = std::make_unique<PulseConnection>();
        if (!pulse_->connect("Zembrola", &failed_))
            return false;
        loop_ = pulse_->loop();
        PulseLock lock(loop_);
        const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, 2};
        stream_ = pa_stream_new(pulse_->context(), "Zembrola", &format, nullptr);
        if (stream_ == nullptr)
            throw SoundError(kErrNoDriver, "the sound server refused the output stream");
        pa_stream_set_state_callback(stream_, &PulseDriver::streamChanged, this);
        pa_stream_set_write_callback(stream_, &PulseDriver::writable, this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(kPulseBufferFrames * kFrameBytes);
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = static_cast<uint32_t>(kPulseChunkFrames * kFrameBytes);
        attr.fragsize = static_cast<uint32_t>(-1);
        // Corked until start(): nothing asks the engine for frames before it is there.
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
        if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0)
            throw SoundError(kErrNoDriver, "the output stream could not be connected");
        if (!pulse_->awaitReady(stream_))
            throw SoundError(kErrNoDriver, "the output stream did not become ready");
        if (const pa_buffer_attr* got = pa_stream_get_buffer_attr(stream_)) {
            queuedFrames_.store(got->tlength / kFrameBytes, std::memory_order_relaxed);
            chunkFrames_.store(std::max<int64_t>(1, got->minreq / kFrameBytes),
                               std::memory_order_relaxed);
        }
        targetFrames_ = kPulseBufferFrames;
        drainingTo_.store(0, std::memory_order_relaxed);
        setBudget(queuedFrames_.load(std::memory_order_relaxed));
        // The main loop's thread renders the output: directly in real time where allowed,
        // else through RealtimeKit (asked from here, not from the thread).
        RaiseSoundLibraryThreads();
        return true;
    }

    int sampleRate() const override { return kRate; }
    bool realtime() const override { return true; }
    bool failed() const override { return failed_.load(std::memory_order_relaxed); }
    WakeupWatch* wakeups() override { return &wakeups_; }
    // Just after a chunk is handed over the server holds its whole buffer ahead of it.
    int64_t latencyFrames() const override { return queuedFrames_.load(std::memory_order_relaxed); }
    int64_t framesSinceLastPeriod() const override {
        if (resting_)
            return 0;
        const int64_t frames = wakeups_.sinceLastNs() * kRate / 1000000000;
        return std::clamp<int64_t>(frames, 0, chunkFrames_.load(std::memory_order_relaxed));
    }
    // The largest chunk it is asked for, that of a grown queue.
    int64_t chunkFrames() const override { return kPulseLoopChunkFrames; }

    void start(Engine& engine) override {
        engine_.store(&engine, std::memory_order_release);
        if (!cork(false))
            throw SoundError(kErrNoDriver, "the output stream did not start");
    }

    void stop() override {
        if (loop_ == nullptr || stream_ == nullptr)
            return;
        {
            // Callbacks run under this lock: once it is released the engine is not called.
            PulseLock lock(loop_);
            pa_stream_set_write_callback(stream_, nullptr, nullptr);
            if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
                pa_stream_disconnect(stream_);
        }
        engine_.store(nullptr, std::memory_order_release);
    }

    void rest() override {
        if (resting_ || failed())
            return;
        // Only silence is queued after a quiet spell: dropping it loses nothing.
        PulseLock lock(loop_);
        if (pa_operation* op = pa_stream_flush(stream_, nullptr, nullptr))
            pa_operation_unref(op);
        if (pa_operation* op = pa_stream_cork(stream_, 1, nullptr, nullptr))
            pa_operation_unref(op);
        resting_ = true;
    }

    bool wake() override {
        if (!resting_)
            return !failed();
        resting_ = false;
        wakeups_.reset();  // the rest is no drop-out
        return cork(false);
    }
    bool resting() const override { return resting_; }

    int64_t deepen(int64_t frames) override {
        if (resting_ || failed() || stream_ == nullptr)
            return 0;
        // Whole chunks: the server asks for chunks, and the clock moves by them.
        const int64_t grown = std::min(
            kPulseLoopBufferFrames, targetFrames_ + frames / kPulseChunkFrames * kPulseChunkFrames);
        if (grown <= targetFrames_ || !askDepth(grown))
            return 0;
        const int64_t added = grown - targetFrames_;
        targetFrames_ = grown;
        return added;
    }

    void shallow(bool dropQueued) override {
        if (resting_ || failed() || stream_ == nullptr)
            return;
        const bool deep = targetFrames_ != kPulseBufferFrames ||
                          queuedFrames_.load(std::memory_order_relaxed) > kPulseBufferFrames ||
                          drainingTo_.load(std::memory_order_relaxed) != 0;
        if (targetFrames_ != kPulseBufferFrames && askDepth(kPulseBufferFrames))
            targetFrames_ = kPulseBufferFrames;
        // Only what a deeper queue holds beyond the usual is worth dropping.
        if (!dropQueued || !deep)
            return;
        PulseLock lock(loop_);
        if (pa_operation* op = pa_stream_flush(stream_, nullptr, nullptr))
            pa_operation_unref(op);
        // Emptied, the queue fills straight to the usual depth: no drain to wait for.
        drainingTo_.store(0, std::memory_order_relaxed);
        queuedFrames_.store(kPulseBufferFrames, std::memory_order_relaxed);
        setBudget(kPulseBufferFrames);
    }

private:
    bool askDepth(int64_t frames) {
        PulseLock lock(loop_);
        const pa_buffer_attr* now = pa_stream_get_buffer_attr(stream_);
        if (now == nullptr)
            return false;
        pa_buffer_attr attr = *now;
        attr.tlength = static_cast<uint32_t>(frames * kFrameBytes);
        const int64_t chunk =
            frames >= kPulseLoopBufferFrames ? kPulseLoopChunkFrames : kPulseChunkFrames;
        attr.minreq = static_cast<uint32_t>(chunk * kFrameBytes);
        pa_operation* op = pa_stream_set_buffer_attr(stream_, &attr, &PulseDriver::depthSet, this);
        if (op == nullptr)
            return false;
        pa_operation_unref(op);
        return true;
    }

    void setBudget(int64_t queued) { wakeups_.setBudget(queued * 1000000000 / kRate); }

    // Main-loop thread: the server's answer to a new depth. A deeper queue fills at once;
    // a shallower one drains first, and until then holds more than it will.
    static void depthSet(pa_stream* s, int success, void* user) {
        auto* self = static_cast<PulseDriver*>(user);
        const pa_buffer_attr* got = success ? pa_stream_get_buffer_attr(s) : nullptr;
        if (got == nullptr)
            return;
        const int64_t granted = got->tlength / kFrameBytes;
        self->chunkFrames_.store(std::max<int64_t>(1, got->minreq / kFrameBytes),
                                 std::memory_order_relaxed);
        if (granted >= self->queuedFrames_.load(std::memory_order_relaxed)) {
            self->drainingTo_.store(0, std::memory_order_relaxed);
            self->queuedFrames_.store(granted, std::memory_order_relaxed);
            self->setBudget(granted);
        } else {
            // A request already on its way is no sign of the drain's end: that takes at
            // least the time the surplus plays for.
            const int64_t surplus = self->queuedFrames_.load(std::memory_order_relaxed) - granted;
            self->drainEndsNs_.store(monotonicNs() + surplus * 1000000000 / kRate,
                                     std::memory_order_relaxed);
            self->drainingTo_.store(granted, std::memory_order_relaxed);
        }
    }

    // UI thread: the main loop's thread is joined before anything it uses goes.
    void release() {
        stop();
        if (stream_ != nullptr) {
            PulseLock lock(loop_);
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_unref(stream_);
        }
        stream_ = nullptr;
        pulse_.reset();
        loop_ = nullptr;
    }

    bool cork(bool on) {
        PulseLock lock(loop_);
        if (failed())
            return false;
        pa_operation* op = pa_stream_cork(stream_, on ? 1 : 0, nullptr, nullptr);
        if (op == nullptr)
            return false;
        pa_operation_unref(op);
        return true;
    }

    // Main-loop thread.
    static void streamChanged(pa_stream* s, void* user) {
        auto* self = static_cast<PulseDriver*>(user);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
            self->failed_.store(true, std::memory_order_relaxed);
        pa_threaded_mainloop_signal(self->loop_, 0);
    }

    // Main-loop thread, real-time: begin_write hands out the server's shared memory, so
    // rendering needs no allocation and no copy.
    static void writable(pa_stream* s, size_t bytes, void* user) {
        auto* self = static_cast<PulseDriver*>(user);
        self->wakeups_.tick();
        // The server asks again once a shallower queue has drained to its new depth (the
        // gap it took is no drop-out).
        if (const int64_t to = self->drainingTo_.load(std::memory_order_relaxed);
            to != 0 && monotonicNs() >= self->drainEndsNs_.load(std::memory_order_relaxed)) {
            self->drainingTo_.store(0, std::memory_order_relaxed);
            self->queuedFrames_.store(to, std::memory_order_relaxed);
            self->setBudget(to);
        }
        if (!self->raised_) {
            // Once, before the first chunk is heard.
            self->raised_ = true;
            RaiseCallingThread();
        }
        Engine* engine = self->engine_.load(std::memory_order_acquire);
        while (bytes >= kFrameBytes) {
            void* data = nullptr;
            size_t n = bytes;
            if (pa_stream_begin_write(s, &data, &n) < 0 || data == nullptr)
                return;
            n -= n % kFrameBytes;
            if (n == 0) {
                pa_stream_cancel_write(s);
                return;
            }
            auto* out = static_cast<float*>(data);
            const auto frames = static_cast<uint32_t>(n / kFrameBytes);
            if (engine != nullptr)
                engine->process(out, frames);
            else
                std::memset(out, 0, n);
            if (pa_stream_write(s, data, n, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return;
            bytes -= n;
        }
    }

    std::unique_ptr<PulseConnection> pulse_;
    pa_threaded_mainloop* loop_ = nullptr;  // pulse_'s, kept for the callbacks
    pa_stream* stream_ = nullptr;
    std::atomic<Engine*> engine_{nullptr};
    std::atomic<bool> failed_{false};
    WakeupWatch wakeups_;
    // What the server holds just after a chunk is handed over: set from its answers on the
    // main loop's thread, read on the UI thread.
    std::atomic<int64_t> queuedFrames_{kPulseBufferFrames};
    // A shallower depth the server has granted, in force once the queue has drained to it
    // (at the next chunk it asks for); 0: none pending.
    std::atomic<int64_t> drainingTo_{0};
    std::atomic<int64_t> drainEndsNs_{0};
    int64_t targetFrames_ = kPulseBufferFrames;            // UI thread: the depth last asked for
    std::atomic<int64_t> chunkFrames_{kPulseChunkFrames};  // as queuedFrames_
    bool raised_ = false;                                  // main-loop thread
    bool resting_ = false;                                 // UI thread
};

}  // namespace

std::unique_ptr<OutputDriver> openPulseOutput() {
    auto driver = std::make_unique<PulseDriver>();
    if (!driver->open())
        return nullptr;
    return driver;
}

}  // namespace zb::audio
