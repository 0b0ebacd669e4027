// Step onsets on the real sound path. The real main window plays through the real output
// (RtAudioSystem: libpulse to the default sink) with one voice whose short click fires on
// every step ("Eigth" / "4"), while two busy threads keep both cores loaded at normal priority. Two
// recordings of the monitor of the sink the output plays on (the program's capture input
// finds it, whatever the default source is) are searched for the clicks' onsets:
//
//   export - the program's own export (timRec, the capture device on that monitor);
//            the saved .Wav is read back;
//   live   - playback with the loop on (timBpm), recorded with the same input class as
//            the export, for a given number of steps.
//
// Both recordings are clocked by the sink, the same clock the output frames are counted
// in, so an onset interval in frames compares directly with the step period in frames at
// 44.1 kHz. The grid puts step n at n x stepInterval ms worth of frames, rounded per step,
// so intervals may alternate by one frame around a fractional period: that is rounding.
//
// Figures per tempo: onset interval minus the ideal period (mean and max of the absolute
// value), drift of the last onset from the first against the ideal, the engine's late
// batches, how late the step events ran against their due time (the look-ahead is what
// they may use), the output thread's wake-ups that came later than the sound it had
// queued (the device ran dry: silence, and every later onset late by the shortfall), and
// where the export's take starts and ends.
//
// Usage: bench_onsets [steps] [--idle]
//   steps   live steps per tempo (default 72, at least 64)
//   --idle  no busy threads, for comparison
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/sound.h"
#include "core/services.h"
#include "core/step_rule.h"
#include "core/step_timer.h"
#include "export/capture_input.h"
#include "export/capture_pulse.h"
#include "export/exporter.h"
#include "export/take_name.h"
#include "shell/dialogs.h"
#include "shell/form1.h"
#include "shell/sequencer.h"
#include "support/bench_support.h"

namespace {

constexpr int kRate = 44100;
constexpr float kLoud = 0.25f;
constexpr int64_t kQuietGap = 600;  // frames of quiet before a new onset counts
constexpr int kTempos[] = {60, 97, 120, 240};

// Every load takes the click; every save names a new take in the save folder.
class OnsetDialogs : public zb::bench::BenchDialogs {
public:
    QString click;
    QString saveFolder;
    QString lastSaved;  // the file the last save wrote
    int saves = 0;

    zb::OpenFileResult openFile(QWidget*, const zb::OpenFileRequest&) override {
        return {click, 1};
    }
    QString saveFile(QWidget*, const QString&, const QString&) override {
        const QString chosen = QDir(saveFolder).filePath(QStringLiteral("take-%1").arg(++saves));
        lastSaved = zb::savedCopyName(chosen);
        return chosen;
    }
};

// Keeps every core busy at normal priority until destroyed.
class BusyCores {
public:
    explicit BusyCores(int n) {
        for (int i = 0; i < n; ++i)
            threads_.emplace_back([this] {
                volatile double x = 1.0;
                while (!stop_.load(std::memory_order_relaxed)) x = x * 1.0000001 + 1e-9;
            });
    }
    ~BusyCores() {
        stop_.store(true);
        for (auto& t : threads_) t.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// The left channel of what the input delivers, into storage sized before it starts.
class MonitorSink : public zb::capture::FrameSink {
public:
    explicit MonitorSink(size_t capacity) : left_(capacity) {}
    void write(const int16_t* frames, uint32_t count) noexcept override {
        size_t at = count_.load(std::memory_order_relaxed);
        for (uint32_t i = 0; i < count && at < left_.size(); ++i)
            left_[at++] = frames[2 * i] / 32768.0f;
        count_.store(at, std::memory_order_release);
    }
    std::vector<float> recorded() const {
        const size_t n = count_.load(std::memory_order_acquire);
        return {left_.begin(), left_.begin() + static_cast<std::ptrdiff_t>(n)};
    }

private:
    std::vector<float> left_;
    std::atomic<size_t> count_{0};
};

// Runs the event loop until done() holds or the time is up; returns done().
bool runUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done())
        return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start();
    loop.exec();
    return done();
}

void pause(int ms) {
    runUntil([] { return false; }, ms);
}

// How late the step events of one timer run against their due time (their step's frame
// less the look-ahead), measured on the output's frame count when the handler is done
// (its batch is committed by then).
class Lateness : public QObject {
public:
    Lateness(zb::StepTimer* timer, const zb::audio::Engine& engine)
        : timer_(timer), engine_(engine) {
        connect(timer, &zb::StepTimer::timeout, this, [this] {
            ++events;
            // The take's last event stops the timer and then waits for the recording to
            // end and saves it; its batch went out before that wait.
            if (!timer_->isActive())
                return;
            const int64_t frame = timer_->stepFrame();
            if (frame == zb::StepTimer::kNoFrame) {
                ++unslaved;
                return;
            }
            const int64_t due = frame - timer_->frameClock().lookahead;
            maxFrames = std::max(maxFrames, engine_.framesRendered() - due);
        });
    }
    void reset() {
        events = unslaved = 0;
        maxFrames = INT64_MIN;
    }
    int events = 0;
    int unslaved = 0;
    int64_t maxFrames = INT64_MIN;

private:
    zb::StepTimer* timer_;
    const zb::audio::Engine& engine_;
};

double ms(double frames) {
    return frames * 1000.0 / kRate;
}

void printFigures(const char* what, int tempo, int stepMs, const zb::bench::IntervalFigures& f,
                  size_t onsets, int expected) {
    const double period = stepMs * (kRate / 1000.0);
    std::printf(
        "onsets: %s, %d bpm (%d ms = %.1f frames): onset interval off the step period by mean "
        "%.2f, max %.2f frames (interval %d, %+.2f) over %d intervals (goal <= 1 sample)\n",
        what, tempo, stepMs, period, f.meanAbs, f.maxAbs, f.worst, f.worstSigned, f.intervals);
    std::printf(
        "onsets: %s, %d bpm: drift of the last onset over the whole run %+.2f frames "
        "(goal <= 1 sample)\n",
        what, tempo, f.drift);
    if (static_cast<int>(onsets) != expected)
        std::printf("onsets: %s, %d bpm: note: %zu onsets found, %d expected\n", what, tempo,
                    onsets, expected);
}

// The output's frame count against the wall clock over one run.
struct OutputRate {
    explicit OutputRate(const zb::audio::Engine& e) : engine(e), f0(e.framesRendered()) {
        wall.start();
    }
    double framesPerSecond() const {
        return static_cast<double>(engine.framesRendered() - f0) * 1e9 /
               static_cast<double>(wall.nsecsElapsed());
    }
    const zb::audio::Engine& engine;
    int64_t f0;
    QElapsedTimer wall;
};

// The output thread's wake-ups over one measurement: gaps longer than the queued sound
// (drop-outs: silence played, later notes late by the gap) and the longest gap.
class OutputGaps {
public:
    explicit OutputGaps(zb::audio::OutputDriver& driver) : watch_(driver.wakeups()) {
        if (watch_) {
            over0_ = watch_->overBudget();
            watch_->reset();
        }
    }
    uint64_t dropOuts() const { return watch_ ? watch_->overBudget() - over0_ : 0; }
    double longestMs() const { return watch_ ? watch_->longestMs() : 0.0; }

private:
    zb::audio::WakeupWatch* watch_;
    uint64_t over0_ = 0;
};

void printTiming(const char* what, int tempo, uint64_t late, const Lateness& l, int64_t lookahead,
                 double outputRate, const OutputGaps& gaps) {
    std::printf(
        "onsets: %s, %d bpm: late batches %llu of %d steps (goal 0); step events ran up "
        "to %.1f ms after their due time (the look-ahead is %.1f ms); the output ran "
        "%.0f frames per wall second; output thread: %llu wake-ups later than its queued "
        "sound, longest gap %.1f ms%s\n",
        what, tempo, static_cast<unsigned long long>(late), l.events,
        l.maxFrames == INT64_MIN ? 0.0 : ms(static_cast<double>(l.maxFrames)),
        ms(static_cast<double>(lookahead)), outputRate,
        static_cast<unsigned long long>(gaps.dropOuts()), gaps.longestMs(),
        l.unslaved ? "; some events carried no frame (wall clock)" : "");
}

}  // namespace

int main(int argc, char** argv) {
    int liveSteps = 72;
    bool busy = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--idle") == 0)
            busy = false;
        else
            liveSteps = std::max(64, std::atoi(argv[i]));
    }
    if (std::system("pactl info >/dev/null 2>&1") != 0) {
        std::printf("onsets: skipped: no sound server\n");
        return 0;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    // Start-up writes the document type registration: keep it out of the real home.
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);

    OnsetDialogs dialogs;
    dialogs.click = QDir(home.path()).filePath(QStringLiteral("click.wav"));
    dialogs.saveFolder = QDir(home.path()).filePath(QStringLiteral("saved"));
    QDir().mkpath(dialogs.saveFolder);
    if (!zb::bench::writeMonoWav(dialogs.click.toStdString(),
                                 zb::bench::clickSamples(500, 100, 0.8f, 10))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(dialogs.click));
        return 1;
    }

    zb::audio::RtAudioSystem audio;
    zb::capture::DesktopInputSystem input;
    zb::Services services;
    services.dialogs = &dialogs;
    services.audio = &audio;
    services.captureInput = &input;
    services.now = [] { return QDateTime::currentDateTime(); };
    services.programDir = QCoreApplication::applicationDirPath();
    services.executablePath = QCoreApplication::applicationFilePath();
    services.dataDir = QDir(home.path()).filePath(QStringLiteral("zembrola"));

    zb::Form1 form(services);
    if (!form.Form_Load() || !form.session().soundDevice) {
        std::printf("onsets: skipped: no sound device\n");
        return 0;
    }
    if (!form.timBpm->slaved() || !form.timRec->slaved()) {
        std::printf("onsets: skipped: the output is not a real device (no frame clock)\n");
        return 0;
    }
    form.cmdSound[0]->click();
    if (!form.session().voices[0].mainBuffer) {
        std::fprintf(stderr, "onsets: loading the click failed\n");
        return 1;
    }
    // "Eigth", "4", "Normal", sub "None", "4", low "None": the main buffer on every step.
    const int modes[6] = {3, 3, 0, 0, 3, 2};
    zb::Selector* sel[6] = {form.cmbNote[0], form.cmbFreq[0], form.cmbTone[0],
                            form.cmbSub[0],  form.cmbSubF[0], form.cmbLow[0]};
    for (int k = 0; k < 6; ++k) sel[k]->setSelectedIndex(modes[k]);

    zb::audio::Engine& engine = form.session().soundDevice->engine();
    const int64_t lookahead = form.timBpm->frameClock().lookahead;
    Lateness recLate(form.timRec, engine), bpmLate(form.timBpm, engine);
    // Let the output settle on its small latency before anything is measured. (The window
    // lets an idle output rest, so the sink's clock is measured per run below, while the
    // steps play.)
    pause(2000);
    std::printf("onsets: %s\n",
                busy ? "two busy threads at normal priority on both cores" : "no extra load");
    BusyCores load(busy ? 2 : 0);

    for (const int tempo : kTempos) {
        std::printf("onsets: %d bpm: load average %s\n", tempo, zb::bench::loadAverage().c_str());
        form.SldBPM->setValue(tempo);
        const int stepMs = form.timBpm->interval();
        if (stepMs != zb::seq::stepIntervalMs(tempo) || form.timRec->interval() != stepMs) {
            std::fprintf(stderr, "onsets: the tempo %d did not reach the step clocks\n", tempo);
            return 1;
        }
        const double period = stepMs * (kRate / 1000.0);

        // (a) The export.
        const bool first = dialogs.saves == 0;
        uint64_t late0 = engine.lateBatches();
        recLate.reset();
        OutputRate exportRate(engine);
        OutputGaps exportGaps(form.session().soundDevice->driver());
        form.cmdStartRecord->click();
        if (!form.exporter().exporting()) {
            std::fprintf(stderr, "onsets: the export did not start\n");
            return 1;
        }
        if (!runUntil([&] { return !form.exporter().exporting(); }, 36 * stepMs + 10000)) {
            std::fprintf(stderr, "onsets: the export did not end\n");
            return 1;
        }
        const uint64_t exportLate = engine.lateBatches() - late0;
        const double exportFps = exportRate.framesPerSecond();
        const std::vector<float> take =
            zb::bench::readFirstChannel(QFile::encodeName(dialogs.lastSaved).toStdString());
        if (take.empty()) {
            std::printf("onsets: export, %d bpm: no take was saved (%s)\n", tempo,
                        qPrintable(dialogs.lastSaved));
        } else {
            const std::vector<int64_t> on = zb::bench::findOnsets(take, 1, kLoud, kQuietGap);
            printFigures("export", tempo, stepMs, zb::bench::measureIntervals(on, period),
                         on.size(), 32);
            printTiming("export", tempo, exportLate, recLate, lookahead, exportFps, exportGaps);
            if (!on.empty()) {
                // An exact loop: step 1's onset at the take's start (after one silent step on
                // the first export after start-up) and 32 periods in all.
                const double lead = first ? period : 0.0;
                std::printf(
                    "onsets: export, %d bpm: take starts %+.2f ms from step 1's onset%s and "
                    "lasts %+.2f ms against %d periods (goal <= 1 ms each)\n",
                    tempo, ms(static_cast<double>(on.front()) - lead),
                    first ? " less one silent step" : "",
                    ms(static_cast<double>(take.size()) - lead - 32 * period), 32);
            }
        }

        // (b) Live playback with the loop on, recorded from the monitor the same way.
        auto sink = std::make_unique<MonitorSink>(
            static_cast<size_t>((liveSteps + 40) * period + 5 * kRate));
        auto stream = input.openInput(kRate, 2, *sink);
        if (!stream || !stream->start()) {
            std::printf("onsets: live, %d bpm: the default input could not be opened\n", tempo);
            continue;
        }
        pause(300);
        form.ckLoop->setChecked(true);
        late0 = engine.lateBatches();
        bpmLate.reset();
        OutputRate liveRate(engine);
        OutputGaps liveGaps(form.session().soundDevice->driver());
        form.cmdPlay->click();
        if (!form.timBpm->isActive()) {
            std::fprintf(stderr, "onsets: playback did not start\n");
            return 1;
        }
        runUntil([&] { return bpmLate.events >= liveSteps; }, (liveSteps + 8) * stepMs + 10000);
        form.cmdStop->click();
        const uint64_t liveLate = engine.lateBatches() - late0;
        const double liveFps = liveRate.framesPerSecond();
        pause(300);
        stream->stop();
        const std::vector<int64_t> on =
            zb::bench::findOnsets(sink->recorded(), 1, kLoud, kQuietGap);
        printFigures("live", tempo, stepMs, zb::bench::measureIntervals(on, period), on.size(),
                     bpmLate.events);
        printTiming("live", tempo, liveLate, bpmLate, lookahead, liveFps, liveGaps);
    }
    if (dialogs.messages)
        std::printf("onsets: note: %d message boxes came up\n", dialogs.messages);
    form.ReleaseAllBuffers();
    return 0;
}
