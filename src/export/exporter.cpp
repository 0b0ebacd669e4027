#include "export/exporter.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <utility>

#include "audio/audio_system.h"
#include "audio/sound.h"
#include "core/dialogs.h"
#include "core/session.h"
#include "core/step_player.h"
#include "core/step_timer.h"
#include "export/capture_device.h"
#include "export/take_files.h"
#include "export/take_name.h"
#include "names/file_names.h"

namespace zb {

namespace {

const QString kRecorderCaption = QStringLiteral("WAV Recorder");
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
constexpr int16_t kEndOfTake = 33;

}  // namespace

Exporter::Exporter(Session& session, StepPlayer& player, StepTimer& timRec,
                   const Services& services, ExportWindow& window)
    : session_(session),
      player_(player),
      timRec_(timRec),
      services_(services),
      window_(window),
      capture_(std::make_unique<capture::CaptureDevice>(services.captureInput)),
      aligner_(*capture_) {
    connect(&timRec_, &StepTimer::timeout, this, &Exporter::timRec_Timer);
    // The recording begins when its input stream is made, a few milliseconds before the
    // record command returns; the output's frame count is read at that moment.
    capture_->setOnRecordingBegins(
        [this] { aligner_.recordingBegins(session_.soundDevice.get()); });
}

Exporter::~Exporter() = default;

bool Exporter::exporting() const {
    return session_.exporting();
}

void Exporter::sendCapture(const std::string& command) {
    captureResult_ = capture_->send(command);
}

QString Exporter::newTakePath() const {
    QString dataDir = services_.dataDir;
    if (dataDir.isEmpty()) {
        dataDir = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
                      .filePath(QStringLiteral("zembrola"));
    }
    return freeTakePathIn(takeFolder(dataDir));
}

QString Exporter::freeTakePathIn(const QString& folder) const {
    QDir().mkpath(folder);
    const QDateTime now = services_.now ? services_.now() : QDateTime::currentDateTime();
    const QString name = freeTakeName(takeFileName(now), [&folder](const QString& candidate) {
        return pathTaken(folder + candidate);
    });
    return folder + name;
}

void Exporter::cmdStartRecord_Click() {
    // A sample load re-enables the button while an export runs; a second export must not
    // start on top of the first.
    if (session_.exporting())
        return;
    Dialogs& dialogs = *services_.dialogs;
    if (!session_.anyVoiceLoaded()) {
        dialogs.message(window_.dialogParent(),
                        QStringLiteral("You must first load a wave file into a sound "
                                       "buffer before you can record a loop."),
                        QStringLiteral("No buffer"), MsgIcon::Information, MsgButtons::Ok);
        return;
    }
    // A load may also have re-enabled the button during playback: the export plays alone,
    // so the running loop is stopped first.
    window_.stopPlayback();
    // The loop may have left a deeper queue draining; the take's place in the recording is
    // found from the usual depth, and nothing of the loop belongs in the take.
    if (session_.soundDevice)
        session_.soundDevice->driver().shallow(true);

    session_.setMode(SessionMode::Exporting);
    LockExportControls();
    MsgResult answer = MsgResult::Yes;
    if (hasUnsavedTake(takePath, takeSaved)) {
        answer = dialogs.message(window_.dialogParent(), QStringLiteral("File Not Saved. Proceed?"),
                                 kRecorderCaption, MsgIcon::None, MsgButtons::YesNoCancel);
        if (answer == MsgResult::No) {
            cmdSave_Click();
        } else if (answer == MsgResult::Yes) {
            removeTakeFile(takePath);
        } else {
            endExport();
            return;
        }
    }
    if (takeInMemory_) {
        // A take only the capture device holds is dropped only when the user said so.
        if (answer == MsgResult::No) {
            endExport();
            return;
        }
        sendCapture("close capture");
        takeInMemory_ = false;
    }
    takeSaved = false;
    window_.setSaveEnabled(false);
    window_.setExportCaption(QStringLiteral("...recording"));
    takePath = newTakePath();
    sendCapture("open new Type waveaudio Alias capture");
    sendCapture("set capture bitspersample 16");
    sendCapture("set capture samplespersec 44100");
    sendCapture("set capture channels 2");
    timRec_.start();
}

void Exporter::LockExportControls() {
    window_.lockExportControls();
}

void Exporter::RestoreIdleControls() {
    window_.restoreIdleControls();
}

void Exporter::endExport() {
    RestoreIdleControls();
    session_.setMode(SessionMode::Idle);
}

void Exporter::timRec_Timer() {
    try {
        ExportStep();
    } catch (const audio::SoundError&) {
        // As in playback, a failed buffer call ends the step where it happened and the
        // next event tries again; the end of the take does not depend on the buffers.
        if (session_.currentStep == kEndOfTake && timRec_.isActive())
            endOfTake();
    }
}

void Exporter::silenceQuietly() {
    try {
        player_.stopAll();
        commitStep();
    } catch (const audio::SoundError&) {
        // Nothing more can be silenced; the take ends all the same.
    }
}

void Exporter::commitStep() {
    // The step's buffer calls reach the audio thread together, as one batch, on the step's
    // own frame when the clock knows it.
    player_.commit(timRec_.stepFrame());
}

void Exporter::ExportStep() {
    const auto scope = player_.stepScope();
    player_.stopAll();
    window_.readVoiceSettings();
    if (!captureStarted) {
        // After the previous step is silenced, before this step's notes start.
        sendCapture("record capture");
        captureStarted = true;
        aligner_.takeStarts(session_.soundDevice.get(), timRec_.stepFrame(),
                            captureResult_ == capture::kOk);
    }
    const int16_t step = session_.currentStep;
    if (step == kEndOfTake) {
        endOfTake();
        return;
    }
    const bool plays = step >= 1 && step <= kLastStep;
    if (plays)
        player_.play(step);
    commitStep();
    if (plays)
        window_.stepPlayed(step, player_.lastStarted(), timRec_.stepFrame());
    session_.currentStep = static_cast<int16_t>(step + 1);
}

void Exporter::endOfTake() {
    timRec_.stop();
    silenceQuietly();
    captureStarted = false;
    FinishCapture();
    // A missing or cut-short take is said before the Save dialog; with no take at all
    // there is nothing the dialog could save.
    if (noTake_) {
        report(QString::fromLatin1(kNoTakeText), MsgIcon::Error);
    } else {
        if (takeCutShort_)
            report(QString::fromLatin1(kShortTakeText), MsgIcon::Information);
        // A save dialog over the quit question would take the keys meant for the question:
        // the question's answer offers the save instead.
        if (quitQuestionUp_)
            saveAfterQuestion_ = true;
        else
            cmdSave_Click();
    }
    endExport();
    session_.currentStep = 1;
}

void Exporter::FinishCapture() {
    aligner_.takeEnds(session_.soundDevice.get(), timRec_.stepFrame());
    sendCapture("stop capture");
    takeCutShort_ = capture_->inputWasLost();
    aligner_.align(session_.soundDevice.get());
    sendCapture("save capture " + names::toBytes(takePath).toStdString());
    noTake_ = captureResult_ == capture::kErrNothingRecorded;
    if (captureResult_ == capture::kErrWriteFailed) {
        // The take folder cannot hold the take (not writable, the disk or a quota full): a
        // private folder in the runtime or temporary folder takes it instead, and failing
        // that the device keeps it in memory for the save step. Either way the user learns
        // where it is.
        const QString intended = takePath;
        // QDir::tempPath() is empty when $TMPDIR names no folder; never fall back to the
        // working directory.
        QString temp = QDir::tempPath();
        if (temp.isEmpty())
            temp = QStringLiteral("/tmp");
        // Other users must not be able to read, swap or delete the only copy of the take.
        fallbackFolder_ =
            privateTakeFolder(qEnvironmentVariable("XDG_RUNTIME_DIR"), temp, fallbackFolder_);
        const QString fallback =
            fallbackFolder_.isEmpty() ? QString() : freeTakePathIn(fallbackFolder_);
        if (!fallback.isEmpty())
            sendCapture("save capture " + names::toBytes(fallback).toStdString());
        if (!fallback.isEmpty() && captureResult_ == capture::kOk) {
            takePath = fallback;
            report(QString::fromLatin1(kTakeMovedText).arg(intended, fallback), MsgIcon::Error);
        } else {
            takeInMemory_ = true;
            report(QString::fromLatin1(kTakeInMemoryText).arg(intended), MsgIcon::Error);
            return;  // the device stays open with the recording
        }
    }
    sendCapture("close capture");
}

void Exporter::report(const QString& text, MsgIcon icon) {
    if (quitQuestionUp_) {
        reportsAfterQuestion_.emplace_back(text, icon);
        return;
    }
    services_.dialogs->message(window_.dialogParent(), text, kRecorderCaption, icon,
                               MsgButtons::Ok);
}

void Exporter::cmdSave_Click() {
    Dialogs& dialogs = *services_.dialogs;
    const QString chosen = dialogs.saveFile(
        window_.dialogParent(), QStringLiteral("Save Wave File"), QStringLiteral("*.WAV"));
    if (chosen.isEmpty())
        return;
    const QString target = savedCopyName(chosen);
    if (takeInMemory_) {
        sendCapture("save capture " + names::toBytes(target).toStdString());
        if (captureResult_ != capture::kOk) {
            dialogs.message(window_.dialogParent(),
                            QString::fromLatin1(kMemorySaveFailedText).arg(target),
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
        dialogs.message(window_.dialogParent(),
                        copyFailureText(target, takePath, copy.error, pathTaken(takePath)),
                        kRecorderCaption, MsgIcon::Error, MsgButtons::Ok);
        return;
    }
    removeTakeFile(takePath);
    takeSaved = true;
}

void Exporter::abortExport(bool keepRecording) {
    timRec_.stop();
    silenceQuietly();
    captureStarted = false;
    if (keepRecording) {
        FinishCapture();
    } else {
        sendCapture("stop capture");
        sendCapture("close capture");
    }
    endExport();
    session_.currentStep = 1;
}

void Exporter::TakeGuard(int16_t& cancel) {
    if (!hasUnsavedTake(takePath, takeSaved))
        return;
    quitQuestionUp_ = true;
    const MsgResult answer =
        services_.dialogs->message(window_.dialogParent(), QStringLiteral("Quit Without Saving ?"),
                                   kRecorderCaption, MsgIcon::None, MsgButtons::YesNoCancel);
    quitQuestionUp_ = false;
    const bool endedMeanwhile = std::exchange(saveAfterQuestion_, false);
    // What a take that ended meanwhile had to say comes now, before its save; Yes gives
    // the take up, and with it where it was kept.
    for (const auto& [text, icon] : std::exchange(reportsAfterQuestion_, {})) {
        if (answer != MsgResult::Yes)
            report(text, icon);
    }
    if (answer == MsgResult::No) {
        // An export cut short by the closing leaves what it recorded as the take to save.
        if (session_.exporting())
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
        if (session_.exporting())
            abortExport(false);
        removeTakeFile(takePath);
        window_.unloadOtherWindows();
        window_.releaseAllBuffers();
        return;
    }
    // The window stays; a take that ended meanwhile gets the save its end would have offered.
    if (endedMeanwhile && hasUnsavedTake(takePath, takeSaved))
        cmdSave_Click();
    cancel = 1;
}

}  // namespace zb
