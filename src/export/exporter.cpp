// Placeholder until the export lands.
#include "export/exporter.h"

#include "shell/form1.h"

namespace zb {
Exporter::Exporter(Form1& form) : form_(form) {}
Exporter::~Exporter() = default;
void Exporter::cmdStartRecord_Click() {}
void Exporter::timRec_Timer() {}
void Exporter::ExportStep() {}
void Exporter::FinishCapture() {}
void Exporter::LockExportControls() {}
void Exporter::RestoreIdleControls() {}
void Exporter::cmdSave_Click() {}
void Exporter::TakeGuard(int16_t&) {}
}  // namespace zb
