// Loading a sample into a voice slot the way the load button does it: the file dialog
// answered at once, then the three buffers, captions, defaults, trace and apply, on the
// real window with the offline sound device. Prints the median of several loads of a
// 60-second stereo 44.1 kHz 16-bit file (goal < 100 ms), and the load time of a file of
// several hundred megabytes, with the time the window then needs to paint its trace.
#include <sndfile.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/sound.h"
#include "core/services.h"
#include "shell/dialogs.h"
#include "shell/form1.h"
#include "shell/voices.h"
#include "support/bench_support.h"
#include "voices/trace.h"

namespace {

// Every load takes `path`.
class AnsweringDialogs : public zb::bench::BenchDialogs {
public:
    QString path;
    zb::OpenFileResult openFile(QWidget*, const zb::OpenFileRequest&) override { return {path, 1}; }
};

// Streams a stereo 16-bit sine-with-noise file of `frames` frames.
bool writeWav(const QString& path, int64_t frames) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    std::vector<short> block(2 * 65536);
    uint32_t x = 1;
    bool ok = true;
    for (int64_t at = 0; at < frames && ok; at += 65536) {
        const int64_t n = std::min<int64_t>(65536, frames - at);
        for (int64_t i = 0; i < n; ++i) {
            x = x * 1664525u + 1013904223u;
            const double v = 0.4 * std::sin(2 * M_PI * 220.0 * double(at + i) / 44100.0) +
                             0.05 * (double(x >> 8) / double(1 << 24) - 0.5);
            block[2 * i] = block[2 * i + 1] = static_cast<short>(v * 32767);
        }
        ok = sf_writef_short(f, block.data(), n) == n;
    }
    return sf_close(f) == 0 && ok;
}

// Resident memory now, and at its highest so far, in MB.
double residentMb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1e6;
}
double peakResidentMb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1e3;
}

void settle() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    // The window writes its document type under XDG_DATA_HOME: keep it in the temp folder.
    qputenv("XDG_DATA_HOME", QDir(dir.path()).filePath("data").toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    AnsweringDialogs dialogs;
    zb::audio::OfflineAudioSystem audio;
    zb::Services services;
    services.dialogs = &dialogs;
    services.audio = &audio;
    services.now = [] { return QDateTime::currentDateTime(); };
    services.programDir = dir.path();
    services.dataDir = QDir(dir.path()).filePath("data/zembrola");
    services.executablePath = QDir(dir.path()).filePath("zembrola");
    zb::Form1 form(services);
    int touches = 0;
    if (!form.Form_Load() || !form.session().soundDevice) {
        std::fprintf(stderr, "no sound device\n");
        return 1;
    }

    auto* driver = dynamic_cast<zb::audio::OfflineDriver*>(&form.session().soundDevice->driver());
    // Loads into slot 0 after clearing it. The device keeps the decoded samples of the last
    // file while they are in use; a new modification time makes the load decode afresh.
    auto timedLoad = [&](const QString& path) {
        form.voicesCtl().cmdKill_Click(0);
        settle();
        if (driver)
            driver->render(256);
        form.session().soundDevice->engine().collectGarbage();
        {
            QFile f(path);
            f.open(QIODevice::ReadWrite);
            f.setFileTime(QDateTime::currentDateTime().addSecs(qint64(++touches)),
                          QFileDevice::FileModificationTime);
        }
        dialogs.path = path;
        QElapsedTimer t;
        t.start();
        form.cmdSound[0]->click();
        const double ms = t.nsecsElapsed() / 1e6;
        if (!form.session().voices[0].mainBuffer || dialogs.messages != 0) {
            std::fprintf(stderr, "load of %s failed\n", qPrintable(path));
            std::exit(1);
        }
        return ms;
    };

    const QString sample = QDir(dir.path()).filePath("sixty seconds.wav");
    if (!writeWav(sample, 60 * 44100))
        return 1;
    std::vector<double> runs;
    for (int k = 0; k < 9; ++k) runs.push_back(timedLoad(sample));
    std::sort(runs.begin(), runs.end());
    std::printf(
        "sample load: 60 s stereo 44.1 kHz 16-bit (%.1f MB), three buffers and trace: "
        "median %.1f ms, min %.1f ms, max %.1f ms over %zu runs (goal < 100 ms)\n",
        QFileInfo(sample).size() / 1e6, runs[runs.size() / 2], runs.front(), runs.back(),
        runs.size());
    form.voicesCtl().cmdKill_Click(0);
    settle();
    QFile::remove(sample);

    // About 300 MB: half an hour of stereo sound.
    const QString large = QDir(dir.path()).filePath("large.wav");
    const int64_t largeFrames = int64_t{75'000'000};
    if (!writeWav(large, largeFrames))
        return 1;
    const double beforeLarge = residentMb();
    std::vector<double> largeRuns;
    for (int k = 0; k < 3; ++k) largeRuns.push_back(timedLoad(large));
    const double peakLarge = peakResidentMb();
    std::sort(largeRuns.begin(), largeRuns.end());
    // The trace alone (both passes over the file), to tell it from the decoding.
    QElapsedTimer traceTimer;
    traceTimer.start();
    const auto geometry = zb::voices::TracePoints(
        zb::voices::ReadTraceValues(large), static_cast<float>(form.waveform[0]->scaleWidth()),
        static_cast<float>(form.waveform[0]->scaleHeight()));
    const double traceMs = traceTimer.nsecsElapsed() / 1e6;
    QElapsedTimer paint;
    paint.start();
    const QImage picture = form.waveform[0]->grab().toImage();
    const double paintMs = paint.nsecsElapsed() / 1e6;
    std::printf(
        "sample load: %.0f MB file (%lld frames), three buffers and trace: median %.0f ms "
        "over %zu runs, of which the trace takes %.0f ms; its %lld points paint in %.0f ms\n",
        QFileInfo(large).size() / 1e6, static_cast<long long>(largeFrames),
        largeRuns[largeRuns.size() / 2], largeRuns.size(), traceMs,
        static_cast<long long>(geometry.points.size()), paintMs);
    (void)picture;
    const double loaded = residentMb();
    form.voicesCtl().cmdKill_Click(0);
    settle();
    if (driver)
        driver->render(256);                           // the woken device lets go of the sample
    form.session().soundDevice->restWhenQuiet(false);  // the window's next poll
    // The decoded sample: stereo 32-bit floats.
    const double decodedMb = static_cast<double>(largeFrames) * 2 * 4 / 1e6;
    std::printf(
        "sample load: resident memory %.0f MB before the large loads, peak %.0f MB (%.2f x the "
        "%.0f MB decoded sample above that), %.0f MB loaded, %.0f MB once the slot is cleared\n",
        beforeLarge, peakLarge, (peakLarge - beforeLarge) / decodedMb, decodedMb, loaded,
        residentMb());
    return 0;
}
