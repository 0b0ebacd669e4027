// Step clock jitter: runs the real sequencer (real window, offscreen; real QTimer event loop)
// with a voice that fires on every step, renders the offline engine in step with wall time,
// finds the onsets in the rendered sound and reports how far the onset intervals stray from
// the ideal step period, in frames at 44.1 kHz.
//
// Two ways of rendering:
//   event   - the engine is rendered up to the current wall time at each timer event, just
//             before the step commits: an onset lands exactly where the event ran. This is
//             the timer's own jitter plus the cost of the step.
//   blocks  - a 1 ms pump renders whole 256-frame blocks as wall time makes them due, the
//             way a sound card with a 256-frame period pulls them: onsets also carry the
//             block quantisation.
//
// Usage: bench_step_jitter [steps]   (default 96, at least 64)
#include <sndfile.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/sound.h"
#include "core/services.h"
#include "core/step_rule.h"
#include "shell/dialogs.h"
#include "shell/form1.h"
#include "shell/sequencer.h"
#include "support/bench_support.h"

namespace {

constexpr int kRate = 44100;
constexpr int64_t kBlock = 256;

// A 100-frame click followed by silence: one clear onset per restart.
struct Result {
    int intervals = 0;
    double timerPeriod = 0;    // frames, the timer's whole-millisecond period
    double musicalPeriod = 0;  // frames, an exact eighth of a beat
    double meanAbsTimer = 0, maxAbsTimer = 0, meanSignedTimer = 0;
    double meanAbsMusical = 0, maxAbsMusical = 0;
};

Result run(const QString& dataDir, const QString& clickPath, int tempo, bool blocks, int steps) {
    zb::bench::BenchDialogs dialogs;
    zb::audio::OfflineAudioSystem audio(kRate);
    zb::Services services;
    services.dialogs = &dialogs;
    services.audio = &audio;
    services.now = [] { return QDateTime::currentDateTime(); };
    services.programDir = dataDir;
    services.dataDir = dataDir;
    services.executablePath = QDir(dataDir).filePath("zembrola");

    zb::Form1 form(services);
    if (!form.Form_Load() || !form.session().soundDevice) {
        std::fprintf(stderr, "start-up failed\n");
        std::exit(1);
    }
    zb::VoiceState& v = form.session().voices[0];
    zb::audio::BufferDesc desc;
    desc.flags = zb::audio::kCtrlFrequency | zb::audio::kCtrlPan | zb::audio::kCtrlVolume;
    v.mainBuffer = form.session().soundDevice->CreateBufferFromFile(clickPath.toStdString(), desc);
    v.subBuffer = form.session().soundDevice->CreateBufferFromFile(clickPath.toStdString(), desc);
    v.lowBuffer = form.session().soundDevice->CreateBufferFromFile(clickPath.toStdString(), desc);
    v.baseFrequency = desc.format.samplesPerSec;
    form.lblFile[0]->setText("click.wav");
    form.cmdPlay->setEnabled(true);
    // "Eigth", "4", "Normal", sub "None", "4", low "None": the main buffer on every step.
    const int modes[6] = {3, 3, 0, 0, 3, 2};
    zb::Selector* sel[6] = {form.cmbNote[0], form.cmbFreq[0], form.cmbTone[0],
                            form.cmbSub[0],  form.cmbSubF[0], form.cmbLow[0]};
    for (int k = 0; k < 6; ++k) sel[k]->setSelectedIndex(modes[k]);
    form.ckLoop->setChecked(true);
    form.SldBPM->setValue(tempo);

    auto* driver = static_cast<zb::audio::OfflineDriver*>(&form.session().soundDevice->driver());
    std::vector<float> out;
    out.reserve(static_cast<size_t>(kRate) * 2 * (steps + 4) * 1300 / 1000);
    int64_t rendered = 0;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point t0 = Clock::now();
    auto due = [&] {
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        return static_cast<int64_t>(s * kRate);
    };
    auto renderTo = [&](int64_t target) {
        if (target <= rendered)
            return;
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(target - rendered) * 2);
        driver->render(out.data() + at, target - rendered);
        rendered = target;
    };

    QEventLoop loop;
    int events = 0;
    // Put the bench's hook in front of the step so that, in event mode, the step's commit
    // lands at the current wall-clock frame.
    form.timBpm->disconnect(&form.sequencer());
    QObject::connect(form.timBpm, &zb::StepTimer::timeout, &loop, [&] {
        if (!blocks)
            renderTo(due());
        form.sequencer().timBpm_Timer();
        if (++events >= steps + 1)
            loop.quit();
    });
    QTimer pump;
    pump.setTimerType(Qt::PreciseTimer);
    pump.setInterval(1);
    QObject::connect(&pump, &QTimer::timeout, [&] {
        const int64_t d = due();
        renderTo(blocks ? d / kBlock * kBlock : d);
    });
    pump.start();
    form.cmdPlay->click();
    if (!form.timBpm->isActive()) {
        std::fprintf(stderr, "the step clock did not start\n");
        std::exit(1);
    }
    loop.exec();
    pump.stop();
    form.cmdStop->click();
    renderTo(rendered + kBlock * 8);

    const std::vector<int64_t> on = zb::bench::findOnsets(out, 2, 0.2f, 50);
    Result r;
    r.timerPeriod = zb::seq::stepIntervalMs(tempo) * (kRate / 1000.0);
    r.musicalPeriod = 7500.0 / tempo * (kRate / 1000.0);
    for (size_t i = 1; i < on.size(); ++i) {
        const double d = static_cast<double>(on[i] - on[i - 1]);
        const double dt = d - r.timerPeriod, dm = d - r.musicalPeriod;
        r.meanAbsTimer += std::fabs(dt);
        r.meanSignedTimer += dt;
        r.maxAbsTimer = std::max(r.maxAbsTimer, std::fabs(dt));
        r.meanAbsMusical += std::fabs(dm);
        r.maxAbsMusical = std::max(r.maxAbsMusical, std::fabs(dm));
        ++r.intervals;
    }
    if (r.intervals > 0) {
        r.meanAbsTimer /= r.intervals;
        r.meanSignedTimer /= r.intervals;
        r.meanAbsMusical /= r.intervals;
    }
    form.session().voices[0] = zb::VoiceState{};
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    // Start-up writes the document type registration: keep it out of the real home.
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    const int steps = std::max(64, argc > 1 ? std::atoi(argv[1]) : 96);

    const QString dataDir = QDir(home.path()).filePath("zembrola");
    QDir().mkpath(dataDir);
    const QString click = QDir(home.path()).filePath("click.wav");
    if (!zb::bench::writeMonoWav(click.toStdString(), zb::bench::clickSamples(500, 100, 0.8f))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(click));
        return 1;
    }

    std::printf("step jitter, %d steps per run, frames at %d Hz (1 ms = 44.1 frames)\n", steps,
                kRate);
    std::printf("%-7s %-6s %9s %9s | %10s %10s %10s | %12s %12s\n", "render", "bpm", "timer",
                "exact", "mean|dev|", "max|dev|", "mean dev", "mean|d-ex|", "max|d-ex|");
    for (bool blocks : {false, true}) {
        for (int tempo : {120, 240}) {
            const Result r = run(dataDir, click, tempo, blocks, steps);
            std::printf(
                "%-7s %-6d %9.2f %9.2f | %10.2f %10.2f %10.2f | %12.2f %12.2f   (%d intervals)\n",
                blocks ? "blocks" : "event", tempo, r.timerPeriod, r.musicalPeriod, r.meanAbsTimer,
                r.maxAbsTimer, r.meanSignedTimer, r.meanAbsMusical, r.maxAbsMusical, r.intervals);
        }
    }
    std::printf(
        "dev: onset interval minus the timer's period (62 ms at 120, 31 ms at 240);\n"
        "d-ex: minus the exact eighth of a beat (62.5 ms, 31.25 ms).\n");
    return 0;
}
