// The state of one working session, shared by playback and the export: the four voice
// slots, the step counter, the sound objects, and what the transport is doing. No widgets:
// the window shows this state, the export and the step player work on it.
//
// Threads: UI thread only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "core/step_rule.h"

namespace zb {

namespace audio {
class SoundRoot;
class SoundDevice;
class SoundBuffer;
}  // namespace audio

// One voice slot: the pattern modes read from its selectors, its sample's own rate, and the
// sample in three buffers (main note, sub note, low note).
struct VoiceState : seq::PatternModes {
    int32_t baseFrequency = 0;
    std::shared_ptr<audio::SoundBuffer> mainBuffer;
    std::shared_ptr<audio::SoundBuffer> subBuffer;
    std::shared_ptr<audio::SoundBuffer> lowBuffer;
};

enum class SessionMode { Idle, Playing, Exporting };

class Session {
public:
    static constexpr int kVoices = 4;

    Session() = default;
    // The buffers go before the device that plays them, the device before its root.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool anyVoiceLoaded() const;

    SessionMode mode() const { return mode_; }
    void setMode(SessionMode mode) { mode_ = mode; }
    // The one guard against overlapping runs: playback and the export advance the same
    // step counter and drive the same buffers, so while an export runs nothing may start
    // or restart the loop, and no second export may start.
    bool exporting() const { return mode_ == SessionMode::Exporting; }

    std::array<VoiceState, kVoices> voices;
    int16_t currentStep = 0;
    std::shared_ptr<audio::SoundRoot> soundRoot;
    std::shared_ptr<audio::SoundDevice> soundDevice;

private:
    SessionMode mode_ = SessionMode::Idle;
};

}  // namespace zb
