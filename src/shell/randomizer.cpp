#include "shell/randomizer.h"

#include "shell/form1.h"
#include "shell/sequencer.h"
#include "shell/user_action.h"
#include "shell/voices.h"

namespace zb {

Randomizer::Randomizer(Form1& form)
    : form_(form), source_(std::make_unique<rnd::StdRandomSource>()) {
    connect(form_.Command1, &QPushButton::clicked, this,
            [this] { userAction(form_, [this] { Command1_Click(); }); });
    connect(form_.Command2, &QPushButton::clicked, this,
            [this] { userAction(form_, [this] { Command2_Click(); }); });
}

void Randomizer::drawSelectorsFor(int i) {
    // Setting an index runs no handler, so all six may be drawn before any is set.
    const rnd::SelectorDraw d = rnd::drawSelectors(*source_);
    form_.cmbNote[i]->setSelectedIndex(d.note);
    form_.cmbTone[i]->setSelectedIndex(d.tone);
    form_.cmbFreq[i]->setSelectedIndex(d.freq);
    form_.cmbSub[i]->setSelectedIndex(d.sub);
    form_.cmbSubF[i]->setSelectedIndex(d.subF);
    form_.cmbLow[i]->setSelectedIndex(d.low);
}

void Randomizer::redraw(const std::function<void(int)>& drawVoice) {
    // A stop and restart would cut into an export's take and its step count.
    if (form_.session().exporting())
        return;
    form_.sequencer().cmdStop_Click();
    for (int i = 0; i < Form1::kVoices; ++i) {
        if (form_.session().voices[i].mainBuffer)
            drawVoice(i);
    }
    form_.sequencer().cmdPlay_Click();
}

void Randomizer::Command1_Click() {
    redraw([this](int i) { drawSelectorsFor(i); });
}

void Randomizer::Command2_Click() {
    redraw([this](int i) {
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
    });
}

}  // namespace zb
