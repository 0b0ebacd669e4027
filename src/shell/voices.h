// The four voice slots: loading a WAV sample into three buffers, its trace, clearing the
// slot, and each voice's tone, pan and volume controls.
//
// Threads: UI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

namespace zb {

class Form1;

class Voices : public QObject {
    Q_OBJECT
public:
    // Wires the voice controls of the form to the handlers below.
    explicit Voices(Form1& form);

    void cmdSound_Click(int i);
    void cmdKill_Click(int i);
    void EnableVoiceControls(int i);
    void DisableVoiceControls(int i);

    void ApplyVoiceSettings(int i);
    void SldFrequency_Click(int i);
    void SldPan_Change(int i);
    void SldVolume_Change(int i);
    void txtTone_Change(int i);
    void txtPan_Change(int i);
    void txtVolume_Change(int i);

    // Loader memory shared by the four slots.
    QString lastSampleDir;
    int32_t lastFilterIndex = 0;

private:
    void drawTrace(int i, const QString& path);
    // True when all four lblFile captions are empty.
    bool noSlotNamed() const;

    Form1& form_;
};

}  // namespace zb
