#include "shell/sequencer.h"

#include "core/step_player.h"
#include "core/step_rule.h"
#include "shell/control_states.h"
#include "shell/form1.h"
#include "shell/step_marker.h"
#include "shell/user_action.h"

namespace zb {
namespace {

const char* const kNoBufferText =
    "You must first load a wave file into a sound buffer before you can play it.";
const char* const kNoBufferCaption = "No buffer";

// Moving a running QTimer to the interval it already has would restart its period, so a
// tempo change that keeps the period leaves the timer alone.
void setTimerInterval(StepTimer* timer, int ms) {
    if (timer && timer->interval() != ms)
        timer->setInterval(ms);
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
    Session& session = form_.session();
    const auto scope = form_.stepPlayer().stepScope();
    StopAllBuffers();
    for (int16_t v = 0; v < Form1::kVoices; ++v) ReadVoiceSettings(v);
    const int16_t step = session.currentStep;
    ApplyStepRule(step);

    if (session.currentStep == seq::kLastStep) {
        if (form_.ckLoop->isChecked())
            session.currentStep = seq::kFirstStep;
        else
            cmdStop_Click();
    } else {
        session.currentStep = static_cast<int16_t>(session.currentStep + 1);
    }

    // Everything this step stopped and started reaches the output together, on the step's
    // own output frame when the step clock knows it.
    form_.stepPlayer().commit(form_.timBpm->stepFrame());
    // A run without loop stopped at once after step 32: nothing of it is heard.
    if (form_.timBpm->isActive() && step >= seq::kFirstStep && step <= seq::kLastStep)
        form_.stepMarker().stepPlayed(step, form_.stepPlayer().lastStarted(),
                                      form_.timBpm->stepFrame(), false);
}

void Sequencer::StopAllBuffers() {
    form_.stepPlayer().stopAll();
}

void Sequencer::ReadVoiceSettings(int16_t voice) {
    if (voice < 0 || voice >= Form1::kVoices)
        return;
    auto& v = form_.session().voices[voice];
    v.freqMode = static_cast<int16_t>(form_.cmbFreq[voice]->selectedIndex());
    v.lowMode = static_cast<int16_t>(form_.cmbLow[voice]->selectedIndex());
    v.noteMode = static_cast<int16_t>(form_.cmbNote[voice]->selectedIndex());
    v.subMode = static_cast<int16_t>(form_.cmbSub[voice]->selectedIndex());
    v.subFreqMode = static_cast<int16_t>(form_.cmbSubF[voice]->selectedIndex());
    v.toneMode = static_cast<int16_t>(form_.cmbTone[voice]->selectedIndex());
}

void Sequencer::ApplyStepRule(int16_t step) {
    form_.stepPlayer().play(step);
}

void Sequencer::timBpm_Timer() {
    try {
        PlayStep();
    } catch (...) {
        // Keep the clock alive; the next event tries again.
    }
}

void Sequencer::cmdPlay_Click() {
    Session& session = form_.session();
    if (!session.anyVoiceLoaded()) {
        form_.dialogs().message(&form_, kNoBufferText, kNoBufferCaption, MsgIcon::Information,
                                MsgButtons::Ok);
        return;
    }
    // The export drives the same step counter and buffers; a second clock beside it would
    // break its take.
    if (session.exporting())
        return;
    // Switching on a timer that already runs keeps its phase.
    if (!form_.timBpm->isActive())
        form_.timBpm->start();
    session.setMode(SessionMode::Playing);
    states::showPlaying(form_);
}

void Sequencer::cmdStop_Click() {
    Session& session = form_.session();
    form_.timBpm->stop();
    // A stop during an export (only the code can reach it then) leaves the export running.
    if (session.mode() == SessionMode::Playing)
        session.setMode(SessionMode::Idle);
    states::showStopped(form_);
    session.currentStep = 1;
    StopAllBuffers();
    // The sound is cut now; steps still waiting for their frame are never heard.
    if (!session.exporting())
        form_.stepMarker().clear();
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
