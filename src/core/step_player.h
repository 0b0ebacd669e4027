// One step of the loop on the session's buffers, shared by playback and the export:
// silence what the last step started, start what the per-step rule asks for, and hand the
// step's buffer calls to the audio thread as one batch.
//
// Threads: UI thread only.
#pragma once

#include <cstdint>

namespace zb {

class Session;

class StepPlayer {
public:
    explicit StepPlayer(Session& session) : session_(session) {}

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
