#include "randomizer/randomizer.h"

#include "audio/sound.h"
#include "export/exporter.h"
#include "sequencer/sequencer.h"
#include "shell/dialogs.h"
#include "shell/form1.h"
#include "voices/voices.h"

namespace zb {
namespace {

// Qt must never see an exception from a slot; a sound failure ends the click with a message.
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

Randomizer::Randomizer(Form1& form)
    : form_(form), source_(std::make_unique<rnd::StdRandomSource>()) {
    connect(form_.Command1, &QPushButton::clicked, this,
            [this] { userAction(form_, [this] { Command1_Click(); }); });
    connect(form_.Command2, &QPushButton::clicked, this,
            [this] { userAction(form_, [this] { Command2_Click(); }); });
}

void Randomizer::drawSelectorsFor(int i) {
    // Each index is set as soon as it is drawn; setting one runs no handler.
    form_.cmbNote[i]->setSelectedIndex(rnd::selectorIndex(source_->next(), 4));
    form_.cmbTone[i]->setSelectedIndex(rnd::selectorIndex(source_->next(), 5));
    form_.cmbFreq[i]->setSelectedIndex(rnd::selectorIndex(source_->next(), 4));
    form_.cmbSub[i]->setSelectedIndex(rnd::selectorIndex(source_->next(), 4));
    form_.cmbSubF[i]->setSelectedIndex(rnd::selectorIndex(source_->next(), 4));
    form_.cmbLow[i]->setSelectedIndex(rnd::selectorIndex(source_->next(), 3));
}

void Randomizer::Command1_Click() {
    // A stop and restart would cut into an export's take and its step count.
    if (form_.exporter().exporting())
        return;
    form_.sequencer().cmdStop_Click();
    for (int i = 0; i < Form1::kVoices; ++i) {
        if (!form_.voices[i].mainBuffer)
            continue;
        drawSelectorsFor(i);
    }
    form_.sequencer().cmdPlay_Click();
}

void Randomizer::Command2_Click() {
    if (form_.exporter().exporting())
        return;
    form_.sequencer().cmdStop_Click();
    for (int i = 0; i < Form1::kVoices; ++i) {
        if (!form_.voices[i].mainBuffer)
            continue;
        const rnd::TonePanDraw d = rnd::drawTonePan(*source_);
        // The tone slider has no change handler: the tone reaches the buffers with the
        // apply that the pan change runs.
        form_.SldFrequency[i]->setValue(d.tone);
        if (form_.SldPan[i]->value() == d.pan) {
            // Same pan: the slider raises no change, yet the new tone must still be heard.
            form_.voicesCtl().ApplyVoiceSettings(i);
        } else {
            form_.SldPan[i]->setValue(d.pan);
        }
        drawSelectorsFor(i);
    }
    form_.sequencer().cmdPlay_Click();
}

}  // namespace zb
