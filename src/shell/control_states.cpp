#include "shell/control_states.h"

#include <QPushButton>
#include <array>

#include "shell/form1.h"

namespace zb::states {
namespace {

const QString kExportCaption = QStringLiteral(">> export >>");
const QString kLockedCaption = QStringLiteral("recording...");

// The transport strip in the order the export locks it, with the state each control has
// when nothing runs. The export button (kExportButton) also changes its caption.
struct StripControl {
    QWidget* widget;
    bool idleEnabled;
};
constexpr size_t kExportButton = 2;
std::array<StripControl, 8> transportStrip(Form1& f) {
    return {{{f.cmdPlay, true},
             {f.cmdStop, false},
             {f.cmdStartRecord, true},
             {f.txtBPM, true},
             {f.SldBPM, true},
             {f.ckLoop, true},
             {f.Command1, true},
             {f.Command2, true}}};
}
// The order the strip is given back in: the export button first.
constexpr std::array<size_t, 8> kRestoreOrder = {kExportButton, 7, 0, 1, 3, 4, 5, 6};

// A voice's tone, pan, volume and pattern controls, in the order the export locks them.
std::array<QWidget*, 12> voiceSettings(Form1& f, int i) {
    return {f.SldFrequency[i], f.SldPan[i],    f.SldVolume[i], f.txtTone[i],
            f.txtPan[i],       f.txtVolume[i], f.cmbNote[i],   f.cmbFreq[i],
            f.cmbTone[i],      f.cmbSub[i],    f.cmbSubF[i],   f.cmbLow[i]};
}
// The order a voice panel enables and disables them in: each slider beside its box, the
// tone spread before the beats.
constexpr std::array<size_t, 12> kPanelOrder = {0, 3, 1, 4, 2, 5, 6, 8, 7, 9, 10, 11};

void setVoiceSettingsEnabled(Form1& f, bool enabled) {
    for (int i = 0; i < Form1::kVoices; ++i)
        for (QWidget* w : voiceSettings(f, i)) w->setEnabled(enabled);
}

void setPanelEnabled(Form1& f, int i, bool enabled) {
    const auto controls = voiceSettings(f, i);
    for (size_t k : kPanelOrder) controls[k]->setEnabled(enabled);
    f.cmdKill[i]->setEnabled(enabled);
}

void setStartersEnabled(Form1& f, bool enabled) {
    f.Command1->setEnabled(enabled);
    f.Command2->setEnabled(enabled);
    f.cmdPlay->setEnabled(enabled);
}

}  // namespace

void nameButton(QPushButton* b) {
    b->setAccessibleName(b->text().trimmed() + QStringLiteral(", ") +
                         b->property(kButtonRole).toString());
}

void setCaption(QPushButton* b, const QString& text) {
    b->setText(text);
    nameButton(b);
}

// When play or stop disables itself under the keyboard focus, the focus goes to the other
// one, never on to whatever button comes next (the web page's).
void showPlaying(Form1& f) {
    const bool handOver = f.cmdPlay->hasFocus();
    f.cmdPlay->setEnabled(false);
    f.cmdStop->setEnabled(true);
    f.cmdStartRecord->setEnabled(false);
    if (handOver)
        f.cmdStop->setFocus(Qt::TabFocusReason);
}

void showStopped(Form1& f) {
    const bool handOver = f.cmdStop->hasFocus();
    f.cmdPlay->setEnabled(true);
    f.cmdStop->setEnabled(false);
    f.cmdStartRecord->setEnabled(true);
    if (handOver)
        f.cmdPlay->setFocus(Qt::TabFocusReason);
}

void lockForExport(Form1& f) {
    const auto strip = transportStrip(f);
    for (size_t k = 0; k < strip.size(); ++k) {
        if (k == kExportButton)
            setCaption(f.cmdStartRecord, kLockedCaption);
        strip[k].widget->setEnabled(false);
    }
    setVoiceSettingsEnabled(f, false);
}

void restoreAfterExport(Form1& f) {
    const auto strip = transportStrip(f);
    for (size_t k : kRestoreOrder) {
        strip[k].widget->setEnabled(strip[k].idleEnabled);
        if (k == kExportButton)
            setCaption(f.cmdStartRecord, kExportCaption);
    }
    setVoiceSettingsEnabled(f, true);
}

void voiceLoaded(Form1& f, int i, bool exporting) {
    if (!exporting) {
        setStartersEnabled(f, true);
        f.cmdStartRecord->setEnabled(true);
    }
    setPanelEnabled(f, i, true);
}

void voiceCleared(Form1& f, int i, bool noSlotNamed) {
    if (noSlotNamed)
        setStartersEnabled(f, false);
    setPanelEnabled(f, i, false);
}

void exportWithoutSlots(Form1& f) {
    f.cmdStartRecord->setEnabled(false);
}

}  // namespace zb::states
