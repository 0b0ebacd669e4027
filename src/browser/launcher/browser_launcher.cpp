#include "browser/launcher/browser_launcher.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLibrary>
#include <QOpenGLContext>
#include <QPushButton>
#include <QSurfaceFormat>
#include <QtGlobal>

#include "browser/launcher/browser_rules.h"
#include "registry/program_location.h"

// QtGui exports these for its own modules; the web engine shares its textures through the
// context they hold.
QOpenGLContext* qt_gl_global_share_context();
void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace zb {

namespace {
using CreateBrowser = QWidget* (*)(const char* startOverride);

// The web engine needs a context that shares its resources with every window's. Qt makes
// one at start-up when asked to, which loads the OpenGL driver (tens of megabytes) into
// every run; made here instead, only a run that opens the web page pays for it.
bool ensureSharedContext() {
    if (qt_gl_global_share_context())
        return true;
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    auto* context = new QOpenGLContext(qApp);
    context->setFormat(QSurfaceFormat::defaultFormat());
    if (!context->create()) {
        delete context;
        return false;
    }
    qt_gl_set_global_share_context(context);
    // Deleted with the application object, while its window system connection still
    // exists; nothing may find it afterwards.
    QObject::connect(context, &QObject::destroyed, [] { qt_gl_set_global_share_context(nullptr); });
    return true;
}
}  // namespace

BrowserLauncher::BrowserLauncher(QPushButton* button, QString programDir)
    : programDir_(std::move(programDir)) {
    if (button)
        connect(button, &QPushButton::clicked, this, &BrowserLauncher::Command3_Click);
}

// The window is top-level and outlives the main window on purpose; it is not closed here.
BrowserLauncher::~BrowserLauncher() = default;

void BrowserLauncher::Command3_Click() {
    if (!window_)
        window_ = loadWindow();
    if (!window_)
        return;
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void BrowserLauncher::unload() {
    if (window_)
        window_->close();
}

QWidget* BrowserLauncher::loadWindow() {
    lastError_.clear();
    // Without a shared context the web engine crashes the program; better no page than that.
    if (!ensureSharedContext()) {
        lastError_ = QStringLiteral("no shared OpenGL context could be made");
        qWarning("zembrola: cannot open the web page window: %s", qPrintable(lastError_));
        return nullptr;
    }
    for (const auto& setting : browser::webEngineEnvironment(
             geteuid() == 0, qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))) {
        qputenv(setting.name.toLatin1().constData(), setting.value.toUtf8());
    }

    const QStringList candidates = browser::browserModuleCandidates(
        programDir_, location::ModuleFolder(QCoreApplication::applicationDirPath()),
        QStringLiteral(ZEMBROLA_BROWSER_MODULE));
    for (const QString& path : candidates) {
        QLibrary module(path);
        // The module holds the web engine, which cannot be unloaded safely; it stays loaded
        // for the rest of the run even when the window closes.
        module.setLoadHints(QLibrary::PreventUnloadHint);
        auto create = reinterpret_cast<CreateBrowser>(module.resolve("zembrola_create_browser"));
        if (!create) {
            lastError_ += module.errorString() + QLatin1Char('\n');
            continue;
        }
        const QByteArray override = startOverride_.toUtf8();
        return create(startOverride_.isEmpty() ? nullptr : override.constData());
    }
    // No message box: the button has no failure of its own to report, and a missing
    // module is an installation fault. Say why on the terminal.
    qWarning("zembrola: cannot open the web page window: %s", qPrintable(lastError_.trimmed()));
    return nullptr;
}

}  // namespace zb
