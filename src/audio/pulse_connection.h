// One connection to the PulseAudio (or PipeWire) server with its own main-loop thread,
// shared by the output stream and the capture input. Every libpulse call on the
// connection's objects holds the main loop's lock (PulseLock); the callbacks run on the
// main-loop thread with that lock already held.
//
// Threads: connect(), the waits and the destructor on the UI thread (the waits with the
// lock held); loop() and context() anywhere under the lock.
#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>

namespace zb::audio {

class PulseLock {
public:
    explicit PulseLock(pa_threaded_mainloop* loop) : loop_(loop) {
        pa_threaded_mainloop_lock(loop_);
    }
    ~PulseLock() { pa_threaded_mainloop_unlock(loop_); }
    PulseLock(const PulseLock&) = delete;
    PulseLock& operator=(const PulseLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

class PulseConnection {
public:
    PulseConnection() = default;
    // Stops the main-loop thread first, so no callback runs while the rest goes.
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // False when no server answers. `lost`, when given, is set once the connection fails
    // (the server went away).
    bool connect(const char* clientName, std::atomic<bool>* lost = nullptr);
    // Waits for an operation started under the lock, which the caller holds.
    void await(pa_operation* op);
    // Waits, under the lock, until a stream being connected is ready; false when it fails.
    // The stream's state callback must signal the main loop.
    bool awaitReady(pa_stream* stream);

    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }

private:
    static void stateChanged(pa_context* context, void* user);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::atomic<bool>* lost_ = nullptr;
};

}  // namespace zb::audio
