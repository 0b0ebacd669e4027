// Export of one pass of the loop into a take, saving and discarding takes, and the guard
// against losing an unsaved take.
//
// Threads: UI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>

namespace zb {

class Form1;
namespace capture {
class CaptureDevice;
}

class Exporter : public QObject {
    Q_OBJECT
public:
    // Wires cmdStartRecord, timRec and cmdSave to the handlers below.
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

    // True from the moment an export locks the controls until they are unlocked again.
    // Playback must not start while this holds: both advance currentStep.
    bool exporting() const { return exporting_; }

    // The device every capture command goes to.
    capture::CaptureDevice& captureDevice() { return *capture_; }
    // Result of the last capture command: kept, never acted upon.
    int32_t lastCaptureResult() const { return captureResult_; }

    QString takePath;
    bool takeSaved = false;
    bool captureStarted = false;

private:
    bool anyVoiceLoaded() const;
    void sendCapture(const std::string& command);
    QString newTakePath() const;
    // A free take name in the given folder (created when missing).
    QString freeTakePathIn(const QString& folder) const;
    void endOfTake();
    void noteTakeStart();
    // Tells the capture device which span of the recording is the take: from the sound of
    // the first step to the frame of the step that ends it.
    void keepTakeSpan();
    // After the recording has stopped: moves the take's span to where the recording holds
    // the output's copy of the take's first frame, when it can be found there.
    void alignTakeSpan();
    // Ends an export that the window's closing cuts short; keepRecording saves what was
    // recorded so far as the take.
    void abortExport(bool keepRecording);
    void commitStep();
    // StopAllBuffers for the end of an export, which must not fail on a broken buffer.
    void silenceQuietly();

    Form1& form_;
    std::unique_ptr<capture::CaptureDevice> capture_;
    int32_t captureResult_ = 0;
    bool exporting_ = false;
    // The take could be written neither to the take folder nor to the temporary folder:
    // the capture device stays open and holds it until the save step writes it.
    bool takeInMemory_ = false;
    bool noTake_ = false;        // the last FinishCapture found nothing recorded
    bool takeCutShort_ = false;  // its input went away before the take's end
    // With the step clock on the output's frames: the frame of the take's first step, and
    // how many output frames of sound were still on their way out when the recording started
    // (what the take leaves out at its start, with the input's latency). takeStartFrame_ < 0:
    // keep the whole recording.
    int64_t takeStartFrame_ = -1;
    int64_t takeLeadIn_ = 0;
    int64_t renderedAtRecordStart_ = -1;  // output frames rendered when the recording began
    // The take's span in frames of the recording as estimated from the latencies; count < 0:
    // none.
    int64_t spanFrom_ = 0;
    int64_t spanCount_ = -1;
};

}  // namespace zb
