// The transport's controls: play, stop, loop and tempo, and the loop's step on timBpm.
// The step itself is the session's step player, which the export shares.
//
// Threads: UI thread only.
#pragma once

#include <QObject>
#include <cstdint>

namespace zb {

class Form1;

class Sequencer : public QObject {
    Q_OBJECT
public:
    // Wires the transport and tempo controls and timBpm to the handlers below.
    explicit Sequencer(Form1& form);

    void PlayStep();
    void StopAllBuffers();
    void ReadVoiceSettings(int16_t voice);
    // The per-step rule for all four voices (step 3 of PlayStep).
    void ApplyStepRule(int16_t step);

    void timBpm_Timer();
    void cmdPlay_Click();
    void cmdStop_Click();
    void SldBPM_Change();
    void txtBPM_Change();

private:
    Form1& form_;
};

}  // namespace zb
