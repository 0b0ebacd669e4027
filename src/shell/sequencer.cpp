#include "sequencer/sequencer.h"

#include "audio/engine.h"
#include "audio/sound.h"
#include "export/exporter.h"
#include "sequencer/step_rule.h"
#include "shell/dialogs.h"
#include "shell/form1.h"

namespace zb {
namespace {

const char* const kNoBufferText =
    "You must first load a wave file into a sound buffer before you can play it.";
const char* const kNoBufferCaption = "No buffer";

bool anyVoiceLoaded(const Form1& form) {
    for (const auto& v : form.voices)
        if (v.mainBuffer)
            return true;
    return false;
}

// Moving a running QTimer to the interval it already has would restart its period, so a
// tempo change that keeps the period leaves the timer alone.
void setTimerInterval(StepTimer* timer, int ms) {
    if (timer && timer->interval() != ms)
        timer->setInterval(ms);
}

// Qt must never see an exception from a slot. A sound failure inside a user action ends that
// action with a message; anything else is swallowed, since there is no sensible recovery at
// this level and the UI has to stay alive.
template <typename F>
void userAction(Form1& form, F&& f) {
    try {
        f();
    } catch (const audio::SoundError& e) {
        form.dialogs().message(
            &form,
            QString("The sound device refused the operation (error 0x%1).")
                .arg(QString::number(e.code(), 16).toUpper().rightJustified(8, QChar('0'))),
            "Zembrola", MsgIcon::Error, MsgButtons::Ok);
    } catch (...) {
    }
}

}  // namespace

Sequencer::Sequencer(Form1& form) : form_(form) {
    connect(form_.timBpm, &StepTimer::timeout, this, &Sequencer::timBpm_Timer);
    connect(form_.cmdPlay, &QPushButton::clicked, this,
            [this] { userAction(form_, [this] { cmdPlay_Click(); }); });
    connect(form_.cmdStop, &QPushButton::clicked, this,
            [this] { userAction(form_, [this] { cmdStop_Click(); }); });
    connect(form_.SldBPM, &QSlider::valueChanged, this,
            [this] { userAction(form_, [this] { SldBPM_Change(); }); });
    connect(form_.txtBPM, &QLineEdit::textChanged, this,
            [this] { userAction(form_, [this] { txtBPM_Change(); }); });
}

void Sequencer::PlayStep() {
    StopAllBuffers();
    for (int16_t v = 0; v < Form1::kVoices; ++v) ReadVoiceSettings(v);
    ApplyStepRule(form_.currentStep);

    if (form_.currentStep == seq::kLastStep) {
        if (form_.ckLoop->isChecked())
            form_.currentStep = seq::kFirstStep;
        else
            cmdStop_Click();
    } else {
        form_.currentStep = static_cast<int16_t>(form_.currentStep + 1);
    }

    // Everything this step stopped and started reaches the output together, on the step's
    // own output frame when the step clock knows it.
    if (form_.soundDevice) {
        const int64_t frame = form_.timBpm->stepFrame();
        form_.soundDevice->engine().commit(frame == StepTimer::kNoFrame ? audio::Engine::kAsap
                                                                        : frame);
    }
}

void Sequencer::StopAllBuffers() {
    // Visiting order: every main buffer, then every sub buffer, then every low buffer.
    using Field = std::shared_ptr<audio::SoundBuffer> VoiceState::*;
    for (Field field : {&VoiceState::mainBuffer, &VoiceState::subBuffer, &VoiceState::lowBuffer}) {
        for (auto& voice : form_.voices) {
            const auto& buffer = voice.*field;
            if (!buffer)
                continue;
            // One buffer that cannot be stopped must not keep the others sounding.
            try {
                buffer->Stop();
                buffer->SetPlayPosition(0);
            } catch (const audio::SoundError&) {
            }
        }
    }
}

void Sequencer::ReadVoiceSettings(int16_t voice) {
    if (voice < 0 || voice >= Form1::kVoices)
        return;
    auto& v = form_.voices[voice];
    v.freqMode = static_cast<int16_t>(form_.cmbFreq[voice]->selectedIndex());
    v.lowMode = static_cast<int16_t>(form_.cmbLow[voice]->selectedIndex());
    v.noteMode = static_cast<int16_t>(form_.cmbNote[voice]->selectedIndex());
    v.subMode = static_cast<int16_t>(form_.cmbSub[voice]->selectedIndex());
    v.subFreqMode = static_cast<int16_t>(form_.cmbSubF[voice]->selectedIndex());
    v.toneMode = static_cast<int16_t>(form_.cmbTone[voice]->selectedIndex());
}

void Sequencer::ApplyStepRule(int16_t step) {
    for (auto& voice : form_.voices) {
        seq::VoiceModes modes;
        modes.noteMode = voice.noteMode;
        modes.freqMode = voice.freqMode;
        modes.toneMode = voice.toneMode;
        modes.subMode = voice.subMode;
        modes.subFreqMode = voice.subFreqMode;
        modes.lowMode = voice.lowMode;
        modes.baseFrequency = voice.baseFrequency;
        modes.hasMain = voice.mainBuffer != nullptr;
        modes.hasSub = voice.subBuffer != nullptr;
        modes.hasLow = voice.lowBuffer != nullptr;

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
            } catch (const audio::SoundError&) {
            }
        }
    }
}

void Sequencer::timBpm_Timer() {
    try {
        PlayStep();
    } catch (...) {
        // Keep the clock alive; the next event tries again.
    }
}

void Sequencer::cmdPlay_Click() {
    if (!anyVoiceLoaded(form_)) {
        form_.dialogs().message(&form_, kNoBufferText, kNoBufferCaption, MsgIcon::Information,
                                MsgButtons::Ok);
        return;
    }
    // The export drives the same step counter and buffers; a second clock beside it would
    // break its take.
    if (form_.exporter().exporting())
        return;
    // Switching on a timer that already runs keeps its phase.
    if (!form_.timBpm->isActive())
        form_.timBpm->start();
    form_.cmdPlay->setEnabled(false);
    form_.cmdStop->setEnabled(true);
    form_.cmdStartRecord->setEnabled(false);
}

void Sequencer::cmdStop_Click() {
    form_.timBpm->stop();
    form_.cmdPlay->setEnabled(true);
    form_.cmdStop->setEnabled(false);
    form_.cmdStartRecord->setEnabled(true);
    form_.currentStep = 1;
    StopAllBuffers();
}

void Sequencer::SldBPM_Change() {
    const int tempo = form_.SldBPM->value();
    const int ms = seq::stepIntervalMs(tempo);
    form_.txtBPM->setText(QString::number(tempo));
    setTimerInterval(form_.timBpm, ms);
    setTimerInterval(form_.timRec, ms);
}

void Sequencer::txtBPM_Change() {
    const auto tempo = seq::parseTempoText(form_.txtBPM->text().toStdString());
    if (tempo)
        form_.SldBPM->setValue(*tempo);
}

}  // namespace zb
