// One step of the loop on the session's buffers, shared by playback and the export:
// silence what the last step started, start what the per-step rule asks for, and hand the
// step's buffer calls to the audio thread as one batch.
//
// Threads: UI thread only.
#pragma once

#include <cstdint>
#include <memory>

namespace zb {

namespace audio {
class SoundDevice;
}
class Session;

class StepPlayer {
public:
    explicit StepPlayer(Session& session) : session_(session) {}

    // Held from a step's first buffer call to its commit(): the step hands its batch over
    // itself, on its own frame, so the engine arranges no commit after the event (one event
    // less on the UI thread at every step). A step cut short by a refusal still gets one.
    class StepScope {
    public:
        explicit StepScope(Session& session);
        ~StepScope();
        StepScope(const StepScope&) = delete;
        StepScope& operator=(const StepScope&) = delete;

    private:
        std::shared_ptr<audio::SoundDevice> device_;
    };
    [[nodiscard]] StepScope stepScope() { return StepScope(session_); }

    // Stops every buffer and rewinds it: every main buffer, then every sub buffer, then
    // every low buffer. A buffer that refuses does not keep the others sounding.
    void stopAll();
    // Starts the notes of `step` (1-32) for all four voices; steps outside start nothing.
    void play(int16_t step);
    // Bit v is set when voice v started a buffer in the last play().
    uint8_t lastStarted() const { return started_; }
    // Sends the batch to the audio thread, on `stepFrame` when the step clock knows the
    // step's output frame (>= 0), otherwise as soon as possible. Nothing without a device.
    void commit(int64_t stepFrame);

private:
    Session& session_;
    uint8_t started_ = 0;
};

}  // namespace zb
