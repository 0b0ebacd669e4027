// The export for real: the main window on the test command's X display, playing through
// RtAudio into the PulseAudio null sink, while the capture device records the sink's
// monitor (found by the capture device; the default input is a silent microphone). Only
// the save dialog is answered by the test.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <functional>
#include <iostream>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/sound.h"
#include "export/capture_pulse.h"
#include "export/exporter.h"
#include "shell/form1.h"
#include "shell/sequencer.h"
#include "support/e2e_support.h"
#include "support/form_fixture.h"
#include "support/scripted_dialogs.h"
#include "support/wav_fixtures.h"

namespace zb::test {
namespace {

TEST(ExportE2e, ExportRecordsTheLoopThroughTheSoundServerAndSavesIt) {
    if (!displayConfigured()) {
        GTEST_SKIP() << "DISPLAY is not set: the export test needs an X display "
                        "(scripts/test.sh starts Xvfb)";
    }
    // Before anything that makes a plain core application (the pactl check does).
    ASSERT_TRUE(ensureApp("xcb")) << "a non-widget application exists already; run this "
                                     "test in a process of its own";
    if (!pulseServerReachable()) {
        GTEST_SKIP() << "no PulseAudio server answers `pactl info` "
                        "(scripts/test.sh starts one with a null sink)";
    }

    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QDir dir(root.path());
    dir.mkpath("data/zembrola");
    dir.mkpath("program");
    ScopedEnv dataHome("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));

    ScriptedDialogs dialogs;
    audio::RtAudioSystem audio;
    capture::DesktopInputSystem input;
    Services services;
    services.dialogs = &dialogs;
    services.audio = &audio;
    services.captureInput = &input;
    services.now = [] { return QDateTime::currentDateTime(); };
    services.programDir = dir.filePath("program");
    services.executablePath = dir.filePath("program/zembrola");
    services.dataDir = dir.filePath("data/zembrola");

    auto form = std::make_unique<Form1>(services);
    ASSERT_TRUE(form->Form_Load());
    ASSERT_TRUE(form->session().soundDevice) << "no output device on the sound server";

    // A click: a short full burst and then silence, shorter than one step.
    std::vector<float> click(2000, 0.0f);
    for (int i = 0; i < 48; ++i) click[static_cast<size_t>(i)] = 0.9f;
    const QString clickPath = dir.filePath("click.wav");
    ASSERT_TRUE(writeWav(clickPath.toStdString(), {}, click));
    dialogs.openAnswers.push_back({clickPath, 1});
    form->cmdSound[0]->click();
    ASSERT_TRUE(form->session().voices[0].mainBuffer) << "the click did not load";

    // "Half" on "2": clicks at steps 1, 5, 17 and 21, a pattern no shift or stretch of the
    // take can imitate. Tempo 60: one step is 125 ms.
    form->cmbNote[0]->setSelectedIndex(1);
    form->cmbFreq[0]->setSelectedIndex(1);
    form->SldBPM->setValue(60);
    ASSERT_EQ(form->timRec->interval(), 125);
    // What the X server shows stands still while idle and follows the steps while the loop
    // plays; a stop, which the take needs first to start with step 1, takes the marker away.
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QTest::qWait(200);
    auto onScreen = [&] { return form->screen()->grabWindow(form->winId()).toImage(); };
    auto strips = [&] { return onScreen().copy(form->Frame1->geometry()); };
    auto waitFor = [](const std::function<bool()>& done) {
        for (int k = 0; k < 1000 && !done(); ++k) QTest::qWait(10);
        return done();
    };
    const QImage idle = onScreen();
    EXPECT_EQ(onScreen(), idle);
    const QImage idleStrips = strips();
    form->cmdPlay->click();
    QImage first;
    ASSERT_TRUE(waitFor([&] { return (first = strips()) != idleStrips; })) << "no marker";
    EXPECT_TRUE(waitFor([&] { return strips() != first; })) << "the marker follows the steps";
    form->cmdStop->click();
    ASSERT_EQ(form->session().currentStep, 1);
    EXPECT_TRUE(waitFor([&] { return onScreen() == idle; })) << "the marker goes with the sound";

    // A null sink that has just got its first client may hold its clock for a second or two
    // before it settles; wait for the output to flow before the export (bounded).
    for (int window = 0; window < 20; ++window) {
        const int64_t before = form->session().soundDevice->engine().framesRendered();
        QElapsedTimer w;
        w.start();
        QTest::qWait(500);
        const double rate =
            static_cast<double>(form->session().soundDevice->engine().framesRendered() - before) /
            (44.1 * static_cast<double>(w.elapsed()));
        if (rate >= 0.8)
            break;
    }

    // A sound server starved of processor time skips stretches of its clock, and what it
    // skips is neither played nor recorded. Such a run says nothing about the program: the
    // output's own frame count shows it (a healthy null sink runs at 85 % of wall time or
    // better), and the export is then tried again, a bounded number of times.
    constexpr int kAttempts = 3;
    constexpr double kHealthySink = 0.8;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        const QString chosen = dir.filePath(QString("my take %1").arg(attempt));
        dialogs.saveAnswers.push_back(chosen);
        const int64_t sinkBefore = form->session().soundDevice->engine().framesRendered();
        QElapsedTimer wall;
        wall.start();
        form->cmdStartRecord->click();
        ASSERT_TRUE(form->exporter().exporting());
        const QString takePath = form->exporter().takePath;
        while (form->exporter().exporting() && wall.elapsed() < 60000) QTest::qWait(20);
        ASSERT_FALSE(form->exporter().exporting()) << "the export did not end";
        const double sinkRate =
            static_cast<double>(form->session().soundDevice->engine().framesRendered() -
                                sinkBefore) /
            (44100.0 * static_cast<double>(wall.elapsed()) / 1000.0);
        RecordProperty("sink_rate_" + std::to_string(attempt), std::to_string(sinkRate));

        ASSERT_EQ(dialogs.saves.size(), static_cast<size_t>(attempt));
        EXPECT_TRUE(form->exporter().takeSaved);
        EXPECT_FALSE(QFile::exists(takePath));
        const test::WavRead take = test::readWav(chosen + ".Wav");
        ASSERT_TRUE(take.ok) << "no saved take at " << chosen.toStdString() << ".Wav";
        EXPECT_EQ(take.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        EXPECT_EQ(take.info.channels, 2);
        EXPECT_EQ(take.info.samplerate, 44100);
        EXPECT_EQ(form->session().currentStep, 1);

        const std::vector<int64_t> found = onsets(take.samples, 0, 0.3f, 2000);
        const double stepsRecorded = static_cast<double>(take.info.frames) / (44100 * 0.125);
        if (sinkRate < kHealthySink && attempt < kAttempts) {
            std::cerr << "sound server starved (sink ran at " << sinkRate
                      << " of wall time; take of " << stepsRecorded << " steps, clicks "
                      << ::testing::PrintToString(found) << "); exporting again\n";
            continue;
        }
        ASSERT_GE(sinkRate, kHealthySink) << "the sound server was starved in every attempt";

        // 32 step periods of 125 ms, counted by a sink whose clock is not the wall clock.
        RecordProperty("steps_recorded", std::to_string(stepsRecorded));
        EXPECT_GT(stepsRecorded, 32 * 0.7);
        EXPECT_LT(stepsRecorded, 32 * 1.3);

        // The clicks, wherever the take's latency put the first one, stand at the pattern's
        // relative places: steps 1, 5, 17 and 21 are 0, 4, 16 and 20 steps apart.
        ASSERT_EQ(found.size(), 4u) << "clicks found: " << ::testing::PrintToString(found);
        const double span = static_cast<double>(found[3] - found[0]);
        ASSERT_GT(span, 0.0);
        EXPECT_NEAR((found[1] - found[0]) / span, 4.0 / 20.0, 0.03);
        EXPECT_NEAR((found[2] - found[0]) / span, 16.0 / 20.0, 0.03);
        // Twenty steps of the take, in its own frames, against the nominal step period.
        const double framesPerStep = span / 20.0;
        EXPECT_GT(framesPerStep, 44100 * 0.125 * 0.7);
        EXPECT_LT(framesPerStep, 44100 * 0.125 * 1.3);
        // The take starts on step 1's click, found in the recording by its sound (5 ms of
        // slack for a machine where it is not found and the latencies' estimate stands).
        EXPECT_LE(found[0], 44100 * 5 / 1000);
        // The right channel carries the same clicks (pan 0).
        EXPECT_EQ(onsets(take.samples, 1, 0.3f, 2000).size(), 4u);
        break;
    }

    form->close();
    EXPECT_TRUE(form->unloaded());
    form.reset();
}

}  // namespace
}  // namespace zb::test
