// Placeholder until the sequencer lands.
#include "sequencer/sequencer.h"

#include "shell/form1.h"

namespace zb {
Sequencer::Sequencer(Form1& form) : form_(form) {}
void Sequencer::PlayStep() {}
void Sequencer::StopAllBuffers() {}
void Sequencer::ReadVoiceSettings(int16_t) {}
void Sequencer::ApplyStepRule(int16_t) {}
void Sequencer::timBpm_Timer() {}
void Sequencer::cmdPlay_Click() {}
void Sequencer::cmdStop_Click() {}
void Sequencer::SldBPM_Change() {}
void Sequencer::txtBPM_Change() {}
}  // namespace zb
