// Export of one pass of the loop into a take, saving and discarding takes, and the guard
// against losing an unsaved take.
//
// Threads: UI thread only.
#pragma once

#include <QObject>
#include <QString>

namespace zb {

class Form1;

class Exporter : public QObject {
    Q_OBJECT
public:
    explicit Exporter(Form1& form);
    ~Exporter() override;

    void cmdStartRecord_Click();
    void timRec_Timer();
    void ExportStep();
    void FinishCapture();
    void LockExportControls();
    void RestoreIdleControls();
    void cmdSave_Click();
    void TakeGuard(int16_t& cancel);

    QString takePath;
    bool takeSaved = false;
    bool captureStarted = false;

private:
    Form1& form_;
};

}  // namespace zb
