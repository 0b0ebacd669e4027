#include "support/form_fixture.h"

#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QFile>

#include "audio/engine.h"
#include "audio/sound.h"

namespace zb::test {

QApplication* ensureApp(const char* platform) {
    if (QCoreApplication* existing = QCoreApplication::instance())
        return qobject_cast<QApplication*>(existing);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", platform);
    static int argc = 1;
    static char name[] = "zembrola_test";
    static char* argv[] = {name, nullptr};
    // Lives until the test program ends; widgets of any test may still refer to it.
    return new QApplication(argc, argv);
}

void pumpEvents() {
    for (int round = 0; round < 1000; ++round) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (!QCoreApplication::eventDispatcher()->processEvents(QEventLoop::AllEvents))
            break;
    }
}

FormFixture::FormFixture(FormFixtureOptions options) : audio(options.outputRate) {
    ensureApp();
    EXPECT_TRUE(root_.isValid());
    const QDir root(root_.path());
    root.mkpath(QStringLiteral("data/zembrola"));
    root.mkpath(QStringLiteral("program"));
    root.mkpath(QStringLiteral("tmp"));
    dataDir = root.filePath(QStringLiteral("data/zembrola"));
    programDir = root.filePath(QStringLiteral("program"));
    executablePath = QDir(programDir).filePath(QStringLiteral("zembrola"));
    tempDir = root.filePath(QStringLiteral("tmp"));

    hadXdgDataHome_ = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    oldXdgDataHome_ = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", root.filePath(QStringLiteral("data")).toLocal8Bit());
    // The document type registration writes its desktop files here but must not start the
    // system's database tools, which would outlive the test and its folders.
    qputenv("ZEMBROLA_NO_DESKTOP_REFRESH", "1");

    audio.setMixerAvailable(options.mixerAvailable);
    audio.setOutputFails(options.outputFails);

    services.dialogs = &dialogs;
    services.audio = &audio;
    services.captureInput = options.captureInput;
    services.now = [this] { return now; };
    services.programDir = programDir;
    services.dataDir = dataDir;
    services.executablePath = executablePath;

    form_ = std::make_unique<Form1>(services);
    if (options.runFormLoad)
        loadResult_ = form_->Form_Load();
}

FormFixture::~FormFixture() {
    form_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (hadXdgDataHome_) {
        qputenv("XDG_DATA_HOME", oldXdgDataHome_);
    } else {
        qunsetenv("XDG_DATA_HOME");
    }
}

audio::OfflineDriver* FormFixture::driver() {
    if (!form_->session().soundDevice)
        return nullptr;
    return dynamic_cast<audio::OfflineDriver*>(&form_->session().soundDevice->driver());
}

std::vector<float> FormFixture::render(int64_t frames) {
    audio::OfflineDriver* d = driver();
    EXPECT_NE(d, nullptr) << "no sound device to render with";
    if (d == nullptr)
        return {};
    return d->render(frames);
}

}  // namespace zb::test
