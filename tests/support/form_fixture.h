// The main window, built and started the way the program does it, on the test edges:
// offscreen Qt, the offline audio system (renders only when asked), scripted dialogs and
// a settable clock, with fresh temporary folders for data and the program's own folder.
//
//   FormFixture fx;                        // builds Form1 and runs Form_Load
//   fx.dialogs.openAnswers.push_back({path, 1});
//   fx.form().cmdSound[0]->click();        // drive the real controls
//   auto pcm = fx.render(4410);            // commits the queued batch, renders 0.1 s
//
// Start-up variants go through the options:
//   FormFixture fx({.mixerAvailable = false});          // "Couldn't open the mixer."
//   FormFixture fx({.outputFails = true});              // device fails, Form_Load false
//   FormFixture fx({.runFormLoad = false});             // just the built window
//
// While a fixture lives, XDG_DATA_HOME points at its own data folder, so nothing the
// program writes can reach the real home.
#pragma once

#include <QApplication>
#include <QDateTime>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "audio/audio_system.h"
#include "core/services.h"
#include "shell/form1.h"
#include "support/scripted_dialogs.h"

namespace zb::test {

// The one QApplication of the test program, made on first use on QT_QPA_PLATFORM or else
// on `platform` (end-to-end tests ask for the real display, "xcb"). Null when the program
// made a plain core application first: each ctest case runs in a process of its own, but a
// test program run by hand must run its window tests before the ones that make one.
QApplication* ensureApp(const char* platform = "offscreen");

// Runs posted events (deferred commits, single-shot timers, deleteLater) until none is left.
void pumpEvents();

struct FormFixtureOptions {
    bool mixerAvailable = true;                    // false: the mixer check fails
    bool outputFails = false;                      // true: creating the sound device fails
    bool runFormLoad = true;                       // false: only build the window
    int outputRate = 44100;                        // the offline device's rate
    capture::InputSystem* captureInput = nullptr;  // the export's recording input
};

class FormFixture {
public:
    explicit FormFixture(FormFixtureOptions options = {});
    ~FormFixture();
    FormFixture(const FormFixture&) = delete;
    FormFixture& operator=(const FormFixture&) = delete;

    Form1& form() { return *form_; }
    // Form_Load's result (true when runFormLoad was false).
    bool loadResult() const { return loadResult_; }

    // The offline driver of the current sound device, or null when there is none.
    audio::OfflineDriver* driver();
    // Commits what the UI side queued and renders `frames` stereo frames (interleaved).
    // Fails the test (and returns nothing) when there is no sound device.
    std::vector<float> render(int64_t frames);

    // A child of the window by its object name, e.g. fx.find<QPushButton>("cmdSound_0").
    template <typename T>
    T* find(const QString& name) {
        return form_->findChild<T*>(name);
    }

    // The folders: dataDir stands for $XDG_DATA_HOME/zembrola, programDir for the folder
    // of the executable (executablePath lies inside it), tempDir for anything else.
    QString dataDir;
    QString programDir;
    QString executablePath;
    QString tempDir;

    // What Services::now returns; tests may move it.
    QDateTime now{QDate(2024, 3, 9), QTime(14, 5, 7)};

    ScriptedDialogs dialogs;
    audio::OfflineAudioSystem audio;
    Services services;

private:
    QTemporaryDir root_;
    QByteArray oldXdgDataHome_;
    bool hadXdgDataHome_ = false;
    std::unique_ptr<Form1> form_;
    bool loadResult_ = true;
};

}  // namespace zb::test
