#include "export/exporter.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cmath>
#include <optional>
#include <type_traits>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/sound.h"
#include "export/capture_device.h"
#include "export/take_align.h"
#include "export/take_files.h"
#include "export/take_name.h"
#include "sequencer/sequencer.h"
#include "shell/dialogs.h"
#include "shell/form1.h"

namespace zb {

namespace {

const QString kRecorderCaption = QStringLiteral("WAV Recorder");

// The output frame the current step belongs on, when the step clock is slaved to the
// output; otherwise "as soon as possible".
template <typename Timer>
int64_t stepFrameOf(const Timer* timer) {
    if constexpr (requires { timer->stepFrame(); }) {
        const int64_t frame = timer->stepFrame();
        return frame >= 0 ? frame : audio::Engine::kAsap;
    } else {
        return audio::Engine::kAsap;
    }
}
// Where a take goes when the take folder cannot hold it, below the temporary folder.
const QString kFallbackFolder = QStringLiteral("zembrola-takes/");
const char* const kTakeMovedText =
    "The take could not be written to \"%1\".\nThe recording is kept in \"%2\".";
const char* const kTakeInMemoryText =
    "The take could not be written to \"%1\" nor to the temporary folder.\n"
    "The recording is kept in memory: save it to a folder with free space before you quit.";
const char* const kMemorySaveFailedText =
    "The take was not saved as \"%1\": the file could not be written.\n"
    "The recording is still kept in memory.";
const char* const kNoTakeText =
    "Nothing was recorded: the recording input could not be opened.\n"
    "There is no take to save.";
const char* const kShortTakeText =
    "The sound server went away during the export, so the take is shorter than the loop.\n"
    "What was recorded is kept.";
constexpr int16_t kLastStep = 32;
constexpr int kTakeRate = 44100;
constexpr int16_t kEndOfTake = 33;
// How far the take's start may lie from its estimate (about 12 ms at 44.1 kHz; the
// estimate has been seen up to 2 ms off).
constexpr int64_t kAlignRadius = 512;

}  // namespace

Exporter::Exporter(Form1& form)
    : form_(form),
      capture_(std::make_unique<capture::CaptureDevice>(form.services().captureInput)) {
    connect(form_.cmdStartRecord, &QPushButton::clicked, this, &Exporter::cmdStartRecord_Click);
    using RecTimer = std::remove_pointer_t<decltype(form_.timRec)>;
    connect(form_.timRec, &RecTimer::timeout, this, &Exporter::timRec_Timer);
    connect(form_.cmdSave, &QPushButton::clicked, this, &Exporter::cmdSave_Click);
    // The recording begins when its input stream is made, a few milliseconds before the
    // record command returns; the output's frame count is read at that moment.
    capture_->setOnRecordingBegins([this] {
        // The count moves a period at a time; the device has played on since the last one.
        renderedAtRecordStart_ = form_.soundDevice
                                     ? form_.soundDevice->engine().framesRendered() +
                                           form_.soundDevice->driver().framesSinceLastPeriod()
                                     : int64_t{-1};
    });
}

Exporter::~Exporter() = default;

bool Exporter::anyVoiceLoaded() const {
    for (const VoiceState& v : form_.voices) {
        if (v.mainBuffer)
            return true;
    }
    return false;
}

void Exporter::sendCapture(const std::string& command) {
    captureResult_ = capture_->send(command);
}

QString Exporter::newTakePath() const {
    QString dataDir = form_.services().dataDir;
    if (dataDir.isEmpty()) {
        dataDir = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
                      .filePath(QStringLiteral("zembrola"));
    }
    return freeTakePathIn(takeFolder(dataDir));
}

QString Exporter::freeTakePathIn(const QString& folder) const {
    QDir().mkpath(folder);
    const QDateTime now =
        form_.services().now ? form_.services().now() : QDateTime::currentDateTime();
    const QString name = freeTakeName(takeFileName(now), [&folder](const QString& candidate) {
        return pathTaken(folder + candidate);
    });
    return folder + name;
}

void Exporter::cmdStartRecord_Click() {
    // A sample load re-enables the button while an export runs; a second export must not
    // start on top of the first.
    if (exporting_)
        return;
    if (!anyVoiceLoaded()) {
        form_.dialogs().message(&form_,
                                QStringLiteral("You must first load a wave file into a sound "
                                               "buffer before you can record a loop."),
                                QStringLiteral("No buffer"), MsgIcon::Information, MsgButtons::Ok);
        return;
    }
    // A load may also have re-enabled the button during playback: the export plays alone,
    // so the running loop is stopped first.
    if (form_.timBpm->isActive())
        form_.sequencer().cmdStop_Click();

    exporting_ = true;
    LockExportControls();
    MsgResult answer = MsgResult::Yes;
    if (hasUnsavedTake(takePath, takeSaved)) {
        answer = form_.dialogs().message(&form_, QStringLiteral("File Not Saved. Proceed?"),
                                         kRecorderCaption, MsgIcon::None, MsgButtons::YesNoCancel);
        if (answer == MsgResult::No) {
            cmdSave_Click();
        } else if (answer == MsgResult::Yes) {
            removeTakeFile(takePath);
        } else {
            RestoreIdleControls();
            exporting_ = false;
            return;
        }
    }
    if (takeInMemory_) {
        // A take only the capture device holds is dropped only when the user said so.
        if (answer == MsgResult::No) {
            RestoreIdleControls();
            exporting_ = false;
            return;
        }
        sendCapture("close capture");
        takeInMemory_ = false;
    }
    takeSaved = false;
    form_.cmdSave->setEnabled(false);
    form_.cmdStartRecord->setText(QStringLiteral("...recording"));
    takePath = newTakePath();
    sendCapture("open new Type waveaudio Alias capture");
    sendCapture("set capture bitspersample 16");
    sendCapture("set capture samplespersec 44100");
    sendCapture("set capture channels 2");
    form_.timRec->start();
}

void Exporter::LockExportControls() {
    form_.cmdPlay->setEnabled(false);
    form_.cmdStop->setEnabled(false);
    form_.cmdStartRecord->setText(QStringLiteral("recording..."));
    form_.cmdStartRecord->setEnabled(false);
    form_.txtBPM->setEnabled(false);
    form_.SldBPM->setEnabled(false);
    form_.ckLoop->setEnabled(false);
    form_.Command1->setEnabled(false);
    form_.Command2->setEnabled(false);
    for (int i = 0; i < Form1::kVoices; ++i) {
        form_.SldFrequency[i]->setEnabled(false);
        form_.SldPan[i]->setEnabled(false);
        form_.SldVolume[i]->setEnabled(false);
        form_.txtTone[i]->setEnabled(false);
        form_.txtPan[i]->setEnabled(false);
        form_.txtVolume[i]->setEnabled(false);
        form_.cmbNote[i]->setEnabled(false);
        form_.cmbFreq[i]->setEnabled(false);
        form_.cmbTone[i]->setEnabled(false);
        form_.cmbSub[i]->setEnabled(false);
        form_.cmbSubF[i]->setEnabled(false);
        form_.cmbLow[i]->setEnabled(false);
    }
}

void Exporter::RestoreIdleControls() {
    form_.cmdStartRecord->setEnabled(true);
    form_.cmdStartRecord->setText(QStringLiteral(">> export >>"));
    form_.Command2->setEnabled(true);
    form_.cmdPlay->setEnabled(true);
    form_.cmdStop->setEnabled(false);
    form_.txtBPM->setEnabled(true);
    form_.SldBPM->setEnabled(true);
    form_.ckLoop->setEnabled(true);
    form_.Command1->setEnabled(true);
    for (int i = 0; i < Form1::kVoices; ++i) {
        form_.SldFrequency[i]->setEnabled(true);
        form_.SldPan[i]->setEnabled(true);
        form_.SldVolume[i]->setEnabled(true);
        form_.txtTone[i]->setEnabled(true);
        form_.txtPan[i]->setEnabled(true);
        form_.txtVolume[i]->setEnabled(true);
        form_.cmbNote[i]->setEnabled(true);
        form_.cmbFreq[i]->setEnabled(true);
        form_.cmbTone[i]->setEnabled(true);
        form_.cmbSub[i]->setEnabled(true);
        form_.cmbSubF[i]->setEnabled(true);
        form_.cmbLow[i]->setEnabled(true);
    }
}

void Exporter::timRec_Timer() {
    try {
        ExportStep();
    } catch (const audio::SoundError&) {
        // As in playback, a failed buffer call ends the step where it happened and the
        // next event tries again; the end of the take does not depend on the buffers.
        if (form_.currentStep == kEndOfTake && form_.timRec->isActive())
            endOfTake();
    }
}

void Exporter::silenceQuietly() {
    try {
        form_.sequencer().StopAllBuffers();
        commitStep();
    } catch (const audio::SoundError&) {
        // Nothing more can be silenced; the take ends all the same.
    }
}

void Exporter::commitStep() {
    // The step's buffer calls reach the audio thread together, as one batch, on the step's
    // own frame when the clock knows it.
    if (form_.soundDevice)
        form_.soundDevice->engine().commit(stepFrameOf(form_.timRec));
}

void Exporter::ExportStep() {
    Sequencer& sequencer = form_.sequencer();
    sequencer.StopAllBuffers();
    for (int16_t v = 0; v < Form1::kVoices; ++v) sequencer.ReadVoiceSettings(v);
    if (!captureStarted) {
        // After the previous step is silenced, before this step's notes start.
        sendCapture("record capture");
        captureStarted = true;
        noteTakeStart();
    }
    const int16_t step = form_.currentStep;
    if (step == kEndOfTake) {
        endOfTake();
        return;
    }
    if (step >= 1 && step <= kLastStep)
        sequencer.ApplyStepRule(step);
    commitStep();
    form_.currentStep = static_cast<int16_t>(step + 1);
}

void Exporter::endOfTake() {
    form_.timRec->stop();
    silenceQuietly();
    captureStarted = false;
    FinishCapture();
    // A missing or cut-short take is said before the Save dialog; with no take at all
    // there is nothing the dialog could save.
    if (noTake_) {
        form_.dialogs().message(&form_, QString::fromLatin1(kNoTakeText), kRecorderCaption,
                                MsgIcon::Error, MsgButtons::Ok);
    } else {
        if (takeCutShort_)
            form_.dialogs().message(&form_, QString::fromLatin1(kShortTakeText), kRecorderCaption,
                                    MsgIcon::Information, MsgButtons::Ok);
        cmdSave_Click();
    }
    RestoreIdleControls();
    exporting_ = false;
    form_.currentStep = 1;
}

void Exporter::noteTakeStart() {
    takeStartFrame_ = -1;
    const int64_t renderedAtStart = renderedAtRecordStart_;
    renderedAtRecordStart_ = -1;
    if (!form_.soundDevice || captureResult_ != capture::kOk)
        return;
    const int64_t frame = form_.timRec->stepFrame();
    if (frame < 0)
        return;
    // This step's sound reaches the input once the output has played from where it stood
    // when the recording began up to the step's frame, and through its own latency (the
    // input's is added at the end, in frames of the take).
    audio::SoundDevice& device = *form_.soundDevice;
    const int64_t rendered =
        renderedAtStart >= 0 ? renderedAtStart : device.engine().framesRendered();
    takeStartFrame_ = frame;
    takeLeadIn_ = frame - rendered + device.driver().latencyFrames();
    // What the output renders from just before this step on, to find it in the recording
    // afterwards.
    device.engine().copyOutput(frame - capture::kAlignLeadFrames, audio::Engine::kMaxCopyFrames);
}

void Exporter::keepTakeSpan() {
    const int64_t end = form_.timRec->stepFrame();
    if (takeStartFrame_ < 0 || end <= takeStartFrame_ || !form_.soundDevice) {
        takeStartFrame_ = -1;
        return;
    }
    // Output frames to frames of the take, which is always recorded at 44100 Hz.
    const double toTake = kTakeRate / static_cast<double>(form_.soundDevice->engine().outputRate());
    spanFrom_ = std::llround(takeLeadIn_ * toTake) + capture_->inputLatencyFrames();
    spanCount_ = std::llround((end - takeStartFrame_) * toTake);
    // The stop waits for the span's end; the alignment may move it later by the radius.
    capture_->keepSpan(spanFrom_, spanCount_ + kAlignRadius);
    takeStartFrame_ = -1;
}

void Exporter::alignTakeSpan() {
    if (spanCount_ < 0)
        return;
    int64_t from = spanFrom_;
    const int channels = capture_->recordingChannels();
    const float* copied = nullptr;
    const int64_t copiedFrames =
        form_.soundDevice ? form_.soundDevice->engine().copiedOutput(copied) : 0;
    // The copy starts a lead before the take's first frame; the comparison needs both at
    // one rate.
    if (channels > 0 && copiedFrames > 0 && form_.soundDevice->engine().outputRate() == kTakeRate) {
        const std::vector<int16_t>& recording = capture_->recording();
        const std::optional<int64_t> found = capture::locateInRecording(
            copied, copiedFrames, recording.data(),
            static_cast<int64_t>(recording.size()) / channels, channels,
            {.expected = spanFrom_ - capture::kAlignLeadFrames, .radius = kAlignRadius});
        if (found)
            from = *found + capture::kAlignLeadFrames;
    }
    capture_->keepSpan(from, spanCount_);
    spanCount_ = -1;
}

void Exporter::FinishCapture() {
    keepTakeSpan();
    sendCapture("stop capture");
    takeCutShort_ = capture_->inputWasLost();
    alignTakeSpan();
    sendCapture("save capture " + QFile::encodeName(takePath).toStdString());
    noTake_ = captureResult_ == capture::kErrNothingRecorded;
    if (captureResult_ == capture::kErrWriteFailed) {
        // The take folder cannot hold the take (not writable, the disk or a quota full): the
        // temporary folder takes it instead, and failing that the device keeps it in memory
        // for the save step. Either way the user learns where it is.
        const QString intended = takePath;
        // QDir::tempPath() is empty when $TMPDIR names no folder; never fall back to the
        // working directory.
        QString temp = QDir::tempPath();
        if (temp.isEmpty())
            temp = QStringLiteral("/tmp");
        const QString fallback = freeTakePathIn(QDir(temp).filePath(kFallbackFolder));
        sendCapture("save capture " + QFile::encodeName(fallback).toStdString());
        if (captureResult_ == capture::kOk) {
            takePath = fallback;
            form_.dialogs().message(&form_,
                                    QString::fromLatin1(kTakeMovedText).arg(intended, fallback),
                                    kRecorderCaption, MsgIcon::Error, MsgButtons::Ok);
        } else {
            takeInMemory_ = true;
            form_.dialogs().message(&form_, QString::fromLatin1(kTakeInMemoryText).arg(intended),
                                    kRecorderCaption, MsgIcon::Error, MsgButtons::Ok);
            return;  // the device stays open with the recording
        }
    }
    sendCapture("close capture");
}

void Exporter::cmdSave_Click() {
    const QString chosen =
        form_.dialogs().saveFile(&form_, QStringLiteral("Save Wave File"), QStringLiteral("*.WAV"));
    if (chosen.isEmpty())
        return;
    const QString target = savedCopyName(chosen);
    if (takeInMemory_) {
        sendCapture("save capture " + QFile::encodeName(target).toStdString());
        if (captureResult_ != capture::kOk) {
            form_.dialogs().message(&form_, QString::fromLatin1(kMemorySaveFailedText).arg(target),
                                    kRecorderCaption, MsgIcon::Error, MsgButtons::Ok);
            return;
        }
        sendCapture("close capture");
        takeInMemory_ = false;
        takeSaved = true;
        return;
    }
    const CopyResult copy = copyWithoutOverwrite(takePath, target);
    if (!copy.ok) {
        // The take stays where it is and stays unsaved, and the user is told so.
        form_.dialogs().message(&form_,
                                copyFailureText(target, takePath, copy.error, pathTaken(takePath)),
                                kRecorderCaption, MsgIcon::Error, MsgButtons::Ok);
        return;
    }
    removeTakeFile(takePath);
    takeSaved = true;
}

void Exporter::abortExport(bool keepRecording) {
    form_.timRec->stop();
    silenceQuietly();
    captureStarted = false;
    if (keepRecording) {
        FinishCapture();
    } else {
        sendCapture("stop capture");
        sendCapture("close capture");
    }
    RestoreIdleControls();
    exporting_ = false;
    form_.currentStep = 1;
}

void Exporter::TakeGuard(int16_t& cancel) {
    if (!hasUnsavedTake(takePath, takeSaved))
        return;
    const MsgResult answer =
        form_.dialogs().message(&form_, QStringLiteral("Quit Without Saving ?"), kRecorderCaption,
                                MsgIcon::None, MsgButtons::YesNoCancel);
    if (answer == MsgResult::No) {
        // An export cut short by the closing leaves what it recorded as the take to save.
        if (exporting_)
            abortExport(true);
        // The take may have ended, and been saved, while the question was up.
        if (!hasUnsavedTake(takePath, takeSaved))
            return;
        cmdSave_Click();
        // A take that only the capture device holds would end with the program: the window
        // stays open until it is saved or given up with Yes.
        if (takeInMemory_)
            cancel = 1;
        return;
    }
    if (answer == MsgResult::Yes) {
        if (exporting_)
            abortExport(false);
        removeTakeFile(takePath);
        form_.UnloadOtherWindows();
        form_.ReleaseAllBuffers();
        return;
    }
    cancel = 1;
}

}  // namespace zb
