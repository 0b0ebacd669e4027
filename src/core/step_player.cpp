#include "core/step_player.h"

#include "audio/engine.h"
#include "audio/sound.h"
#include "core/session.h"
#include "core/step_rule.h"

namespace zb {

StepPlayer::StepScope::StepScope(Session& session) : device_(session.soundDevice) {
    if (device_)
        device_->engine().holdCommitScheduler();
}

StepPlayer::StepScope::~StepScope() {
    if (device_)
        device_->engine().releaseCommitScheduler();
}

void StepPlayer::stopAll() {
    using Field = std::shared_ptr<audio::SoundBuffer> VoiceState::*;
    for (Field field : {&VoiceState::mainBuffer, &VoiceState::subBuffer, &VoiceState::lowBuffer}) {
        for (auto& voice : session_.voices) {
            const auto& buffer = voice.*field;
            if (!buffer)
                continue;
            try {
                buffer->Stop();
                buffer->SetPlayPosition(0);
            } catch (const audio::SoundError&) {
            }
        }
    }
}

void StepPlayer::play(int16_t step) {
    started_ = 0;
    for (size_t v = 0; v < session_.voices.size(); ++v) {
        auto& voice = session_.voices[v];
        const seq::VoiceModes modes{static_cast<const seq::PatternModes&>(voice),
                                    voice.baseFrequency, voice.mainBuffer != nullptr,
                                    voice.subBuffer != nullptr, voice.lowBuffer != nullptr};

        for (const auto& start : seq::voiceStarts(step, modes)) {
            audio::SoundBuffer* buffer = nullptr;
            switch (start.buffer) {
                case seq::Buffer::Main:
                    buffer = voice.mainBuffer.get();
                    break;
                case seq::Buffer::Sub:
                    buffer = voice.subBuffer.get();
                    break;
                case seq::Buffer::Low:
                    buffer = voice.lowBuffer.get();
                    break;
            }
            // A note the device refuses (a spread rate outside its range, say) is left out;
            // the rest of the step still plays and the loop keeps its beat. A message box
            // here would come back at every step.
            try {
                if (start.frequency)
                    buffer->SetFrequency(*start.frequency);
                buffer->SetPlayPosition(0);
                buffer->Play(0);
                started_ = static_cast<uint8_t>(started_ | (1u << v));
            } catch (const audio::SoundError&) {
            }
        }
    }
}

void StepPlayer::commit(int64_t stepFrame) {
    if (session_.soundDevice)
        session_.soundDevice->engine().commit(stepFrame >= 0 ? stepFrame : audio::Engine::kAsap);
}

}  // namespace zb
