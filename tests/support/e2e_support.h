// Helpers for end-to-end tests: they start the real program as a child process on the
// display and sound server the test command provides (Xvfb and a PulseAudio null sink),
// look at its windows through the X11 command-line tools, and end it again.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <optional>
#include <vector>

namespace zb::test {

// Creates a QCoreApplication when the test program has none yet; QProcess needs one.
void ensureCoreApplication();

// Makes the process end with the test program, also when the test program crashes: a
// server or program a test started must never outlive it.
void endWithTestProgram(QProcess& process);

// Sets an environment variable for the scope's lifetime, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

struct CommandResult {
    bool finished = false;  // started and ended within the time allowed
    int exitCode = -1;
    QString output;  // stdout and stderr, merged
};

// Runs a short helper command (xwininfo, pactl, ...) to its end.
CommandResult runCommand(const QString& program, const QStringList& args,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));

// True when an X display is named in the environment.
bool displayConfigured();

// True when a PulseAudio (or PipeWire-pulse) server answers `pactl info`.
bool pulseServerReachable();

// Full path of one of the built programs: $ZEMBROLA_BIN_DIR/name, empty when unset.
QString builtProgram(const QString& name);

struct XWindow {
    QString id;  // "0x..."
    QString name;
    int width = 0;
    int height = 0;
    bool viewable = false;  // mapped, and all its ancestors too
    qint64 pid = 0;         // _NET_WM_PID, 0 when the window does not carry it
};

// One line of `xwininfo -root -tree`, e.g.
//   `     0x400007 "Zembrola": ("zembrola" "zembrola")  769x417+0+0  +0+0`
// parsed into id and name; nullopt for lines that describe no named window.
std::optional<XWindow> parseTreeLine(const QString& line);

// All windows on the display whose title is exactly `name`, with map state, size and pid.
std::vector<XWindow> findWindows(const QString& name);

// Waits until no window titled `name` is left (the X server drops a client's windows
// shortly after the client ends); false when some remain after the timeout.
bool waitUntilNoWindow(const QString& name, std::chrono::milliseconds timeout);

// The program under test, started with its own private data folders.
class ChildProgram {
public:
    explicit ChildProgram(QString program, QStringList args = {});
    ~ChildProgram();  // kills the child if it still runs
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    void setEnv(const QString& key, const QString& value);
    bool start();
    bool running() const;
    qint64 pid() const;

    // Waits until a viewable window titled `name` that belongs to this child exists.
    // Gives up when the child ends or the timeout passes.
    std::optional<XWindow> waitForWindow(const QString& name, std::chrono::milliseconds timeout);

    // Asks the child to end (SIGTERM) and waits for it; true when it ended in time.
    bool terminate(std::chrono::milliseconds timeout);
    // True when it ended by itself with status 0 or through the SIGTERM it was sent.
    bool endedCleanly() const;
    QString describeEnd() const;

    QString output() const;  // everything it wrote so far, stdout and stderr
    QString dataHome() const { return dataHome_; }

private:
    QString program_;
    QStringList args_;
    QTemporaryDir dir_;
    QString dataHome_;
    QString logPath_;
    QProcessEnvironment env_;
    QProcess process_;
};

}  // namespace zb::test
