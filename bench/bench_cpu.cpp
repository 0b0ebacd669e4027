// CPU use of the whole program while idle and while four voices play on every step: the
// real main window on the real sound device (RtAudioSystem, the default output), the demo
// kit loaded through each voice's load button, every voice on "Eigth" / "4" and the loop
// ticked, then the transport's play. The Qt event loop runs for the measured spans; the
// figure is the process's CPU time (every thread: the UI, the sound callback, the sound
// library's own) over the span's wall time, so other work on the machine does not count.
//
// Usage: bench_cpu [kit-dir] [seconds]   (kit-dir defaults to this program's folder, where
// the build puts kit-1-kick.wav etc.; seconds of playing, default 10)
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <vector>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/sound.h"
#include "core/services.h"
#include "shell/dialogs.h"
#include "shell/form1.h"
#include "shell/look.h"
#include "shell/sequencer.h"
#include "shell/voices.h"
#include "support/bench_support.h"

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec * 1e-6 + u.ru_stime.tv_sec +
           u.ru_stime.tv_usec * 1e-6;
}

double wallSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

struct Span {
    double cpuPercent = 0;
    double wall = 0;
};

Span runEventLoop(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    const double c0 = cpuSeconds(), w0 = wallSeconds();
    loop.exec();
    const double c = cpuSeconds() - c0, w = wallSeconds() - w0;
    return {100.0 * c / w, w};
}

// CPU ticks of every thread of this process, by thread id, with the thread's name.
struct ThreadTicks {
    QString name;
    long long ticks = 0;
};
std::map<QString, ThreadTicks> threadTicks() {
    std::map<QString, ThreadTicks> out;
    const QString self = QString::number(QCoreApplication::applicationPid());
    for (const QString& tid :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const int open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        // Fields after the name: state is field 3; utime and stime are fields 14 and 15.
        const QList<QByteArray> f = line.mid(close + 2).split(' ');
        if (f.size() < 13)
            continue;
        ThreadTicks t;
        t.name = tid == self ? QStringLiteral("UI thread")
                             : QString::fromLocal8Bit(line.mid(open + 1, close - open - 1));
        t.ticks = f[11].toLongLong() + f[12].toLongLong();
        out[tid] = t;
    }
    return out;
}

// The threads' share of a core over `seconds`, largest first, by name.
QString threadShares(const std::map<QString, ThreadTicks>& before,
                     const std::map<QString, ThreadTicks>& after, double seconds) {
    std::map<QString, long long> byName;
    for (const auto& [tid, t] : after) {
        auto b = before.find(tid);
        byName[t.name] += t.ticks - (b == before.end() ? 0 : b->second.ticks);
    }
    std::vector<std::pair<long long, QString>> list;
    for (const auto& [name, ticks] : byName)
        if (ticks > 0)
            list.emplace_back(ticks, name);
    std::sort(list.rbegin(), list.rend());
    const double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
    QStringList parts;
    for (const auto& [ticks, name] : list)
        parts << QStringLiteral("%1 %2%").arg(name).arg(100.0 * ticks / hz / seconds, 0, 'f', 2);
    return parts.join(QStringLiteral(", "));
}

bool mapped(const char* library) {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    return maps.readAll().contains(library);
}

}  // namespace

int main(int argc, char** argv) {
    // On a display when there is one (as the program runs), offscreen otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    // Start-up writes the document type registration: keep it out of the real home.
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    // The window reaches the X server as the program's does.
    const bool socketRepaints = zb::look::SendRepaintsOverSocket();
    QApplication app(argc, argv);
    zb::look::ForgetRepaintsOverSocket(socketRepaints);
    const QString kitDir =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QCoreApplication::applicationDirPath();
    const double playSeconds = argc > 2 ? std::max(2.0, std::atof(argv[2])) : 10.0;

    zb::bench::BenchDialogs dialogs;
    zb::audio::RtAudioSystem audio;
    zb::Services services;
    services.dialogs = &dialogs;
    services.audio = &audio;
    services.now = [] { return QDateTime::currentDateTime(); };
    services.programDir = QCoreApplication::applicationDirPath();
    services.executablePath = QCoreApplication::applicationFilePath();
    services.dataDir = QDir(home.path()).filePath(QStringLiteral("zembrola"));

    double w0 = wallSeconds();
    if (!audio.openMixer()) {
        std::printf("cpu: skipped: no sound server\n");
        return 0;
    }
    const double mixerMs = (wallSeconds() - w0) * 1000;
    w0 = wallSeconds();
    zb::Form1 form(services);
    const double buildMs = (wallSeconds() - w0) * 1000;
    w0 = wallSeconds();
    const bool loaded = form.Form_Load();
    const double loadMs = (wallSeconds() - w0) * 1000;
    if (!loaded || !form.session().soundDevice) {
        std::printf("cpu: skipped: no sound device\n");
        return 0;
    }
    form.show();
    // Idle is the steady state: the window's first paint and the output's last periods
    // before it rests (the quiet poll runs every 250 ms) are start-up work.
    runEventLoop(1.0);
    auto ticks0 = threadTicks();
    const Span idle = runEventLoop(5.0);
    const QString idleThreads = threadShares(ticks0, threadTicks(), idle.wall);

    const char* kit[4] = {"kit-1-kick.wav", "kit-2-snare.wav", "kit-3-hihat.wav", "kit-4-clap.wav"};
    for (int i = 0; i < zb::Form1::kVoices; ++i) {
        const QString path = QDir(kitDir).filePath(QString::fromLatin1(kit[i]));
        if (!QFileInfo::exists(path)) {
            std::fprintf(stderr, "cpu: the demo kit is missing: %s\n", qPrintable(path));
            return 1;
        }
        dialogs.opens.push_back(path);
        form.cmdSound[i]->click();
        if (!form.session().voices[i].mainBuffer) {
            std::fprintf(stderr, "cpu: loading %s failed\n", qPrintable(path));
            return 1;
        }
        form.cmbNote[i]->setSelectedIndex(3);
        form.cmbFreq[i]->setSelectedIndex(3);
        if (form.cmbNote[i]->currentText() != QLatin1String("Eigth") ||
            form.cmbFreq[i]->currentText() != QLatin1String("4")) {
            std::fprintf(stderr, "cpu: unexpected pattern items\n");
            return 1;
        }
    }
    form.ckLoop->setChecked(true);
    const bool webEngineBefore = mapped("libQt6WebEngineCore");

    zb::audio::Engine& engine = form.session().soundDevice->engine();
    const uint64_t batches0 = engine.appliedBatches(), late0 = engine.lateBatches();
    form.sequencer().cmdPlay_Click();
    ticks0 = threadTicks();
    const Span playing = runEventLoop(playSeconds);
    const QString playingThreads = threadShares(ticks0, threadTicks(), playing.wall);
    const uint64_t batches = engine.appliedBatches() - batches0;
    const uint64_t late = engine.lateBatches() - late0;
    form.sequencer().cmdStop_Click();

    std::printf(
        "cpu: idle, sound device open, window shown: %.2f%% of a core over %.1f s "
        "(goal < 1%%)\n",
        idle.cpuPercent, idle.wall);
    std::printf(
        "cpu: four voices on every step at %d bpm: %.2f%% of a core over %.1f s "
        "(goal <= 1%%)\n",
        form.SldBPM->value(), playing.cpuPercent, playing.wall);
    std::printf("cpu: by thread (10 ms ticks), idle: %s; playing: %s\n", qPrintable(idleThreads),
                qPrintable(playingThreads));
    std::printf("cpu: %llu step batches applied (%llu late) in %.1f s\n",
                static_cast<unsigned long long>(batches), static_cast<unsigned long long>(late),
                playing.wall);
    std::printf("cpu: web engine mapped before the web page button: %s (goal: no)\n",
                webEngineBefore ? "yes" : "no");
    std::printf(
        "cpu: start-up parts (wall): mixer check %.1f ms, building the window %.1f ms, "
        "Form_Load %.1f ms (of which a second mixer check and the sound device)\n",
        mixerMs, buildMs, loadMs);
    if (dialogs.messages)
        std::printf("cpu: note: %d message boxes came up\n", dialogs.messages);
    // The window's own close step would ask nothing here (no take); drop the sound first.
    form.ReleaseAllBuffers();
    return 0;
}
