// Draws the README's picture: the real main window on the real sound device, with the four
// demo samples loaded through the window's own load buttons, saved as a PNG.
//   zembrola_screenshot OUT.png
// The load dialog is the only stand-in: it answers with the kit's files in order.
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QStandardPaths>
#include <QStringList>
#include <cstdio>

#include "audio/audio_system.h"
#include "export/capture_input.h"
#include "registry/program_location.h"
#include "shell/dialogs.h"
#include "shell/form1.h"
#include "shell/services.h"

namespace {

class KitDialogs : public zb::QtDialogs {
public:
    explicit KitDialogs(QStringList files) : files_(std::move(files)) {}
    zb::OpenFileResult openFile(QWidget*, const zb::OpenFileRequest& request) override {
        if (files_.isEmpty())
            return {};
        return {files_.takeFirst(), request.filterIndex};
    }

private:
    QStringList files_;
};

void settle(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
        return 2;
    }
    const QString exe = zb::location::ExecutablePath();
    const QDir kit(zb::location::DataFolder(QFileInfo(exe).absolutePath()));
    QStringList files;
    for (const char* name :
         {"kit-1-kick.wav", "kit-2-snare.wav", "kit-3-hihat.wav", "kit-4-clap.wav"}) {
        files << kit.filePath(QLatin1String(name));
    }

    KitDialogs dialogs(files);
    zb::audio::RtAudioSystem audio;
    zb::capture::RtAudioInputSystem captureInput;
    zb::Services services;
    services.dialogs = &dialogs;
    services.audio = &audio;
    services.captureInput = &captureInput;
    services.now = [] { return QDateTime::currentDateTime(); };
    services.programDir = kit.path();
    services.executablePath = exe;
    services.dataDir = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
                           .filePath(QStringLiteral("zembrola"));

    zb::Form1 form(services);
    if (!form.Form_Load())
        return 1;
    form.show();
    settle(300);
    for (QPushButton* load : form.cmdSound) {
        load->click();
        settle(100);
    }
    // Every voice panel appears only once its sample is in.
    for (const auto& voice : form.session().voices) {
        if (!voice.mainBuffer) {
            std::fprintf(stderr, "screenshot: a demo sample did not load\n");
            return 1;
        }
    }
    settle(500);
    if (!form.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
