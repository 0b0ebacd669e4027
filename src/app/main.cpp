// Zembrola: a four-voice sample step sequencer. The main window's load step is the whole
// start-up; the program ends when its last window closes.
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <csignal>

#include "audio/audio_system.h"
#include "core/services.h"
#include "export/capture_input.h"
#include "export/capture_pulse.h"
#include "registry/program_location.h"
#include "shell/dialogs.h"
#include "shell/form1.h"
#include "shell/look.h"

int main(int argc, char** argv) {
    // A file-size limit (a quota, ulimit -f) must make a write fail, which every writer
    // reports, rather than end the program with a take still in memory.
    std::signal(SIGXFSZ, SIG_IGN);
    const bool socketRepaints = zb::look::SendRepaintsOverSocket();
    QApplication app(argc, argv);
    zb::look::ForgetRepaintsOverSocket(socketRepaints);
    QApplication::setApplicationName(QStringLiteral("Zembrola"));
    // The command line is not read: a document path starts the same empty window.

    zb::QtDialogs dialogs;
    zb::audio::RtAudioSystem audio;
    zb::capture::DesktopInputSystem captureInput;  // the monitor of the output's sink

    zb::Services services;
    services.dialogs = &dialogs;
    services.audio = &audio;
    services.captureInput = &captureInput;
    services.now = [] { return QDateTime::currentDateTime(); };
    // Qt gives no path at all for a folder whose name is not UTF-8; the link always does.
    services.executablePath = zb::location::ExecutablePath();
    services.programDir =
        zb::location::DataFolder(QFileInfo(services.executablePath).absolutePath());
    services.dataDir = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
                           .filePath(QStringLiteral("zembrola"));

    zb::Form1 form(services);
    if (!form.Form_Load()) {
        // The sound device could not be made; the message has been shown.
        return 1;
    }
    form.show();
    return app.exec();
}
