#include "support/e2e_support.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <csignal>

namespace zb::test {

void endWithTestProgram(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

ScopedEnv::ScopedEnv(const char* name, const QByteArray& value)
    : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
    qputenv(name, value);
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        qputenv(name_, old_);
    else
        qunsetenv(name_);
}

void ensureCoreApplication() {
    if (QCoreApplication::instance() != nullptr) {
        return;
    }
    static int argc = 1;
    static char name[] = "zembrola-e2e";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

CommandResult runCommand(const QString& program, const QStringList& args,
                         std::chrono::milliseconds timeout) {
    ensureCoreApplication();
    CommandResult result;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(static_cast<int>(timeout.count()))) {
        result.output = p.errorString();
        return result;
    }
    if (!p.waitForFinished(static_cast<int>(timeout.count()))) {
        p.kill();
        p.waitForFinished(1000);
        result.output = QString::fromLocal8Bit(p.readAll());
        return result;
    }
    result.finished = p.exitStatus() == QProcess::NormalExit;
    result.exitCode = p.exitCode();
    result.output = QString::fromLocal8Bit(p.readAll());
    return result;
}

bool displayConfigured() {
    return !qEnvironmentVariableIsEmpty("DISPLAY");
}

bool pulseServerReachable() {
    const CommandResult r = runCommand("pactl", {"info"}, std::chrono::seconds(5));
    return r.finished && r.exitCode == 0;
}

QString builtProgram(const QString& name) {
    const QString dir = qEnvironmentVariable("ZEMBROLA_BIN_DIR");
    return dir.isEmpty() ? QString() : dir + "/" + name;
}

std::optional<XWindow> parseTreeLine(const QString& line) {
    static const QRegularExpression re(R"x(^\s*(0x[0-9a-fA-F]+) "(.*)": \()x");
    const QRegularExpressionMatch m = re.match(line);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    XWindow w;
    w.id = m.captured(1);
    w.name = m.captured(2);
    return w;
}

namespace {

// Fills in map state and size from `xwininfo -id`, and the owner from `xprop`.
void describeWindow(XWindow& w) {
    const CommandResult info = runCommand("xwininfo", {"-id", w.id});
    if (!info.finished || info.exitCode != 0) {
        return;  // the window went away in between
    }
    w.viewable = info.output.contains("Map State: IsViewable");
    static const QRegularExpression width(R"x(Width:\s*(\d+))x");
    static const QRegularExpression height(R"x(Height:\s*(\d+))x");
    w.width = width.match(info.output).captured(1).toInt();
    w.height = height.match(info.output).captured(1).toInt();

    const CommandResult prop = runCommand("xprop", {"-id", w.id, "_NET_WM_PID"});
    static const QRegularExpression pid(R"x(_NET_WM_PID\(CARDINAL\) = (\d+))x");
    const QRegularExpressionMatch m = pid.match(prop.output);
    if (m.hasMatch()) {
        w.pid = m.captured(1).toLongLong();
    }
}

}  // namespace

std::vector<XWindow> findWindows(const QString& name) {
    std::vector<XWindow> found;
    const CommandResult tree = runCommand("xwininfo", {"-root", "-tree"});
    if (!tree.finished || tree.exitCode != 0) {
        return found;
    }
    for (const QString& line : tree.output.split('\n')) {
        std::optional<XWindow> w = parseTreeLine(line);
        if (w && w->name == name) {
            describeWindow(*w);
            found.push_back(*w);
        }
    }
    return found;
}

bool waitUntilNoWindow(const QString& name, std::chrono::milliseconds timeout) {
    const QDeadlineTimer deadline(timeout);
    while (!findWindows(name).empty()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(100);
    }
    return true;
}

ChildProgram::ChildProgram(QString program, QStringList args)
    : program_(std::move(program)), args_(std::move(args)) {
    ensureCoreApplication();
    // Private data and config folders: whatever the program writes at start stays here.
    dataHome_ = dir_.filePath("data");
    logPath_ = dir_.filePath("output.log");
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert("XDG_DATA_HOME", dataHome_);
    env_.insert("XDG_CONFIG_HOME", dir_.filePath("config"));
    // The desktop databases' tools would run detached, past this test and its folder.
    env_.insert("ZEMBROLA_NO_DESKTOP_REFRESH", "1");
    if (::geteuid() == 0 && !env_.contains("QTWEBENGINE_DISABLE_SANDBOX")) {
        env_.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");  // the sandbox refuses root
    }
}

ChildProgram::~ChildProgram() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void ChildProgram::setEnv(const QString& key, const QString& value) {
    env_.insert(key, value);
}

bool ChildProgram::start() {
    if (!dir_.isValid()) {
        return false;
    }
    process_.setProcessEnvironment(env_);
    // Into a file rather than a pipe: nobody has to keep reading while the test waits.
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.setStandardOutputFile(logPath_);
    endWithTestProgram(process_);
    process_.start(program_, args_);
    return process_.waitForStarted(10000);
}

bool ChildProgram::running() const {
    return process_.state() == QProcess::Running;
}

qint64 ChildProgram::pid() const {
    return process_.processId();
}

std::optional<XWindow> ChildProgram::waitForWindow(const QString& name,
                                                   std::chrono::milliseconds timeout) {
    const QDeadlineTimer deadline(timeout);
    const qint64 childPid = pid();
    for (;;) {
        for (const XWindow& w : findWindows(name)) {
            if (w.viewable && (w.pid == 0 || w.pid == childPid)) {
                return w;
            }
        }
        // Doubles as the pause between two looks, and notices a child that ended.
        if (process_.state() == QProcess::NotRunning || process_.waitForFinished(200) ||
            deadline.hasExpired()) {
            return std::nullopt;
        }
    }
}

bool ChildProgram::terminate(std::chrono::milliseconds timeout) {
    if (process_.state() == QProcess::NotRunning) {
        return true;
    }
    process_.terminate();
    return process_.waitForFinished(static_cast<int>(timeout.count()));
}

bool ChildProgram::endedCleanly() const {
    if (process_.state() != QProcess::NotRunning) {
        return false;
    }
    if (process_.exitStatus() == QProcess::NormalExit) {
        return process_.exitCode() == 0;
    }
    // Killed by a signal: only the SIGTERM we sent counts as a clean end.
    return process_.exitCode() == SIGTERM;
}

QString ChildProgram::describeEnd() const {
    if (process_.state() != QProcess::NotRunning) {
        return "is still running";
    }
    if (process_.exitStatus() == QProcess::NormalExit) {
        return QString("exited with status %1").arg(process_.exitCode());
    }
    return QString("ended by signal %1").arg(process_.exitCode());
}

QString ChildProgram::output() const {
    QFile f(logPath_);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromLocal8Bit(f.readAll());
}

}  // namespace zb::test
