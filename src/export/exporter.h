// Export of one pass of the loop into a take, saving and discarding takes, and the guard
// against losing an unsaved take. No widgets: what the export asks of the window goes
// through ExportWindow.
//
// Threads: UI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/dialogs.h"
#include "core/services.h"
#include "export/take_aligner.h"

class QWidget;

namespace zb {

class Session;
class StepPlayer;
class StepTimer;
namespace capture {
class CaptureDevice;
}

// What the export asks of the window around it.
class ExportWindow {
public:
    virtual ~ExportWindow() = default;
    // The parent of the export's messages and file dialogs.
    virtual QWidget* dialogParent() = 0;
    // The controls an export locks and gives back.
    virtual void lockExportControls() = 0;
    virtual void restoreIdleControls() = 0;
    virtual void setExportCaption(const QString& text) = 0;
    virtual void setSaveEnabled(bool enabled) = 0;
    // Stops the loop when it plays.
    virtual void stopPlayback() = 0;
    // Reads the four voices' pattern selectors into the session.
    virtual void readVoiceSettings() = 0;
    // The closing steps a discarded take leads to.
    virtual void unloadOtherWindows() = 0;
    virtual void releaseAllBuffers() = 0;
    // A step of the take went to the output: `voices` has bit v set when voice v started a
    // buffer, `frame` is the step's output frame or StepTimer::kNoFrame.
    virtual void stepPlayed(int16_t step, uint8_t voices, int64_t frame) {
        (void)step, (void)voices, (void)frame;
    }
};

class Exporter : public QObject {
    Q_OBJECT
public:
    // Wires timRec to timRec_Timer; the window wires its export and save buttons. The
    // services must outlive the export.
    Exporter(Session& session, StepPlayer& player, StepTimer& timRec, const Services& services,
             ExportWindow& window);
    ~Exporter() override;

    void cmdStartRecord_Click();
    void timRec_Timer();
    void ExportStep();
    void FinishCapture();
    void LockExportControls();
    void RestoreIdleControls();
    void cmdSave_Click();
    void TakeGuard(int16_t& cancel);

    // True from the moment an export locks the controls until they are unlocked again.
    // Playback must not start while this holds: both advance currentStep.
    bool exporting() const;

    // The device every capture command goes to.
    capture::CaptureDevice& captureDevice() { return *capture_; }
    // Result of the last capture command: kept, never acted upon.
    int32_t lastCaptureResult() const { return captureResult_; }

    QString takePath;
    bool takeSaved = false;
    bool captureStarted = false;

private:
    void sendCapture(const std::string& command);
    QString newTakePath() const;
    // A free take name in the given folder (created when missing).
    QString freeTakePathIn(const QString& folder) const;
    void endOfTake();
    // Ends an export that the window's closing cuts short; keepRecording saves what was
    // recorded so far as the take.
    void abortExport(bool keepRecording);
    // The export is over: the controls come back and the loop may play again.
    void endExport();
    void commitStep();
    // Silences the buffers at the end of an export, which must not fail on a broken buffer.
    void silenceQuietly();

    Session& session_;
    StepPlayer& player_;
    StepTimer& timRec_;
    const Services& services_;
    ExportWindow& window_;
    std::unique_ptr<capture::CaptureDevice> capture_;
    TakeAligner aligner_;
    int32_t captureResult_ = 0;
    // The take could be written neither to the take folder nor to the temporary folder:
    // the capture device stays open and holds it until the save step writes it.
    bool takeInMemory_ = false;
    bool noTake_ = false;        // the last FinishCapture found nothing recorded
    bool takeCutShort_ = false;  // its input went away before the take's end
    // Shows what the end of a take has to say, or keeps it for after the quit question.
    void report(const QString& text, MsgIcon icon);

    // While "Quit Without Saving ?" is up, the end of a take leaves its save and its
    // messages to the answer: nothing opens over the question.
    bool quitQuestionUp_ = false;
    bool saveAfterQuestion_ = false;
    std::vector<std::pair<QString, MsgIcon>> reportsAfterQuestion_;
    // The private folder that takes went to when the take folder could not hold them.
    QString fallbackFolder_;
};

}  // namespace zb
