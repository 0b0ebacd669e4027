// Soak: many loop passes through the real sequencer and the offline engine with the clock
// accelerated. The main window is built offscreen as the program builds it; each step runs
// timBpm's handler directly and then renders exactly the frames of one step period, so the
// output is what a sound card would have played. Every 1000 passes voices 2-4 are cleared
// and loaded again.
//
// Reports, and fails (exit 1) unless each is zero:
//   - memory growth: resident set size (VmRSS) at the end less the size after warm-up, less
//     a few pages of slack (kRssSlackKb) that the allocator and the thread stacks may touch
//     once in a while; a leak of one byte per step over the default passes shows as 310 kB;
//   - live voices of the engine after every slot was cleared;
//   - step grid drift: the onsets of voice 1 (hard left, a click on steps 1, 9, 17, 25)
//     against the frames where those steps began, less the offset of the first one.
//
//   bench_soak [--passes N]       (default 10000)
#include <sndfile.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/sound.h"
#include "core/step_timer.h"
#include "shell/dialogs.h"
#include "shell/form1.h"
#include "shell/sequencer.h"
#include "shell/voices.h"
#include "support/bench_support.h"

// Under a sanitizer the allocator holds freed memory back (quarantine), so the resident
// size says nothing about leaks there; LeakSanitizer judges those instead.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZB_SOAK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZB_SOAK_SANITIZED 1
#endif
#endif
#ifndef ZB_SOAK_SANITIZED
#define ZB_SOAK_SANITIZED 0
#endif

namespace {

// Quiet frames before a rise counts as a new onset: longer than a click, shorter than a step.
constexpr int64_t kOnsetGap = 4000;
// Resident-size growth not taken for a leak: a few pages, once in a while (seen: 4 kB).
constexpr long kRssSlackKb = 16;

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    long passes = 10000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--passes") == 0)
            passes = std::stol(argv[i + 1]);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("ZEMBROLA_NO_DESKTOP_REFRESH", "1");
    QApplication app(argc, argv);

    QTemporaryDir tmp;
    const QDir root(tmp.path());
    root.mkpath("data/zembrola");
    root.mkpath("program");
    qputenv("XDG_DATA_HOME", root.filePath("data").toLocal8Bit());

    // Voice 1: a click. Voices 2-4: a decaying tone that often overlaps the next step.
    std::vector<float> click(3000, 0.0f);
    for (int i = 0; i < 64; ++i) click[static_cast<size_t>(i)] = 0.8f;
    std::vector<float> tone(20000);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<float>(0.3 * std::sin(i * 0.07) * std::exp(-double(i) / 6000.0));
    const QString clickPath = root.filePath("click.wav");
    const QString tonePath = root.filePath("tone.wav");
    if (!zb::bench::writeMonoWav(clickPath.toStdString(), click) ||
        !zb::bench::writeMonoWav(tonePath.toStdString(), tone)) {
        std::fprintf(stderr, "cannot write the samples\n");
        return 2;
    }

    // The only edge: the dialogs. Loads answer from a queue; no message is expected.
    zb::bench::BenchDialogs dialogs(zb::MsgResult::Cancel);
    zb::audio::OfflineAudioSystem audio;
    zb::Services services;
    services.dialogs = &dialogs;
    services.audio = &audio;
    services.now = [] { return QDateTime(QDate(2024, 1, 1), QTime(12, 0)); };
    services.programDir = root.filePath("program");
    services.executablePath = root.filePath("program/zembrola");
    services.dataDir = root.filePath("data/zembrola");

    auto form = std::make_unique<zb::Form1>(services);
    if (!form->Form_Load() || audio.driver() == nullptr) {
        std::fprintf(stderr, "start-up failed\n");
        return 2;
    }
    zb::audio::OfflineDriver& driver = *audio.driver();
    zb::audio::Engine& engine = form->session().soundDevice->engine();

    auto loadOthers = [&] {
        for (int v = 1; v < zb::Form1::kVoices; ++v) {
            dialogs.opens.push_back(tonePath);
            form->voicesCtl().cmdSound_Click(v);
            form->SldPan[v]->setValue(10000);           // right only: voice 1 owns the left channel
            form->cmbNote[v]->setSelectedIndex(3);      // "Eigth"
            form->cmbSub[v]->setSelectedIndex(v);       // "Normal", "High", "Low"
            form->cmbLow[v]->setSelectedIndex(v % 2);   // "Low" or "High"
            form->cmbTone[v]->setSelectedIndex(v + 1);  // a spread
        }
    };
    dialogs.opens.push_back(clickPath);
    form->voicesCtl().cmdSound_Click(0);
    form->SldPan[0]->setValue(-10000);
    loadOthers();
    form->ckLoop->setChecked(true);
    form->SldBPM->setValue(240);
    const int interval = form->timBpm->interval();
    const int rate = engine.outputRate();
    form->session().currentStep = 1;

    // Voice 1's clicks, hard left: found in the left channel block by block. The bench's own
    // records are allocated and touched before the warm-up size is taken, so that only the
    // program's memory can grow.
    const size_t maxRecords = static_cast<size_t>(passes) * 4 + 64;
    std::vector<int64_t> onsets(maxRecords, 0), expected(maxRecords, 0);
    size_t onsetCount = 0, expectedCount = 0;
    int64_t quiet = kOnsetGap;
    int64_t rendered = 0;
    int64_t k = 0;  // steps since the start
    // Warm-up ends half-way after the first clearing and reloading of the slots, which raises
    // the allocator's high-water mark once (by about 0.7 MB); from there on nothing may grow.
    const long warmup = passes > 1500 ? 1500 : std::max(1L, passes / 10);
    long rssWarm = 0;
    const auto started = std::chrono::steady_clock::now();
    for (long pass = 0; pass < passes; ++pass) {
        if (pass == warmup)
            rssWarm = residentKb();
        if (pass > 0 && pass % 1000 == 0) {
            for (int v = 1; v < zb::Form1::kVoices; ++v) form->voicesCtl().cmdKill_Click(v);
            loadOthers();
        }
        for (int s = 0; s < 32; ++s) {
            const int step = form->session().currentStep;
            if ((step == 1 || step == 9 || step == 17 || step == 25) && expectedCount < maxRecords)
                expected[expectedCount++] = rendered;
            form->sequencer().timBpm_Timer();
            const int64_t frames = zb::StepOffsetFrames(k + 1, interval, rate) -
                                   zb::StepOffsetFrames(k, interval, rate);
            ++k;
            const std::vector<float> out = driver.render(frames);
            const auto found = zb::bench::findOnsets(out, 2, 0.4f, kOnsetGap, rendered, &quiet);
            for (int64_t at : found)
                if (onsetCount < maxRecords)
                    onsets[onsetCount++] = at;
            rendered += frames;
            // Deferred commits and deleted objects, as the event loop would run them.
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long rssEnd = residentKb();

    // Clear every slot; the audio side lets go of the samples within one block.
    for (int v = 0; v < zb::Form1::kVoices; ++v) form->voicesCtl().cmdKill_Click(v);
    QCoreApplication::sendPostedEvents();
    driver.render(4096);
    engine.collectGarbage();
    const int live = engine.liveVoices();

    onsets.resize(onsetCount);
    expected.resize(expectedCount);
    int64_t maxDrift = 0;
    const size_t compared = std::min(expected.size(), onsets.size());
    const int64_t offset = compared > 0 ? onsets[0] - expected[0] : 0;
    for (size_t i = 0; i < compared; ++i)
        maxDrift =
            std::max(maxDrift, static_cast<int64_t>(std::llabs(onsets[i] - expected[i] - offset)));
    const bool countsMatch = expected.size() == onsets.size();

    const long growth = rssEnd - rssWarm;
    std::printf("soak: %ld loop passes (%lld steps, %.1f h of output) in %.1f s\n", passes,
                static_cast<long long>(k), double(rendered) / rate / 3600.0, seconds);
    std::printf("soak: memory after warm-up %ld kB, at the end %ld kB, growth %ld kB%s\n", rssWarm,
                rssEnd, growth, ZB_SOAK_SANITIZED ? " (not judged under a sanitizer)" : "");
    std::printf("soak: live voices after clearing every slot: %d\n", live);
    std::printf("soak: onsets %zu expected %zu, offset %lld frames, max drift %lld frames\n",
                onsets.size(), expected.size(), static_cast<long long>(offset),
                static_cast<long long>(maxDrift));
    form.reset();
    const bool ok = (growth <= kRssSlackKb || ZB_SOAK_SANITIZED) && live == 0 && maxDrift == 0 &&
                    countsMatch && dialogs.messages == 0 && !expected.empty();
    std::printf("soak: %s\n", ok ? "PASSED" : "FAILED");
    return ok ? 0 : 1;
}
