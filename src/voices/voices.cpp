// Placeholder until the voice slots land.
#include "voices/voices.h"

#include "shell/form1.h"

namespace zb {
Voices::Voices(Form1& form) : form_(form) {}
void Voices::cmdSound_Click(int) {}
void Voices::cmdKill_Click(int) {}
void Voices::EnableVoiceControls(int) {}
void Voices::DisableVoiceControls(int) {}
void Voices::ApplyVoiceSettings(int) {}
void Voices::SldFrequency_Click(int) {}
void Voices::SldPan_Change(int) {}
void Voices::SldVolume_Change(int) {}
void Voices::txtTone_Change(int) {}
void Voices::txtPan_Change(int) {}
void Voices::txtVolume_Change(int) {}
}  // namespace zb
