// The position display for real: the main window on the test command's X display, playing
// through RtAudio into the PulseAudio null sink. What the X server shows moves while the
// loop plays and stands still when it does not.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

#include "audio/audio_system.h"
#include "export/capture_input.h"
#include "shell/form1.h"
#include "support/e2e_support.h"
#include "support/form_fixture.h"
#include "support/scripted_dialogs.h"
#include "support/wav_fixtures.h"

namespace zb::test {
namespace {

QImage onScreen(Form1& form) {
    return form.screen()->grabWindow(form.winId()).toImage();
}

// Waits, bounded, until `done` holds.
bool waitFor(const std::function<bool()>& done) {
    QElapsedTimer wall;
    wall.start();
    while (!done() && wall.elapsed() < 10000) QTest::qWait(5);
    return done();
}

TEST(PositionE2e, TheWindowMovesWithTheLoopAndRestsWhenItStops) {
    if (!displayConfigured())
        GTEST_SKIP() << "DISPLAY is not set (scripts/test.sh starts Xvfb)";
    ASSERT_TRUE(ensureApp("xcb")) << "run this test in a process of its own";
    if (!pulseServerReachable())
        GTEST_SKIP() << "no PulseAudio server answers (scripts/test.sh starts a null sink)";

    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QDir dir(root.path());
    dir.mkpath("data/zembrola");
    ScopedEnv dataHome("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
    ScriptedDialogs dialogs;
    audio::RtAudioSystem audio;
    capture::RtAudioInputSystem input;
    Services services;
    services.dialogs = &dialogs;
    services.audio = &audio;
    services.captureInput = &input;
    services.now = [] { return QDateTime::currentDateTime(); };
    services.programDir = dir.path();
    services.executablePath = dir.filePath("zembrola");
    services.dataDir = dir.filePath("data/zembrola");

    Form1 form(services);
    ASSERT_TRUE(form.Form_Load());
    ASSERT_TRUE(form.session().soundDevice) << "no output device on the sound server";
    const QString sample = dir.filePath("tone.wav");
    ASSERT_TRUE(writeWav(sample.toStdString(), {}, sine(2000, 440, 44100, 1)));
    dialogs.openAnswers.push_back({sample, 1});
    form.cmdSound[0]->click();
    ASSERT_TRUE(form.session().voices[0].mainBuffer);
    form.SldBPM->setValue(60);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::qWait(200);

    const QImage idle = onScreen(form);
    EXPECT_EQ(onScreen(form), idle) << "nothing moves while idle";

    form.cmdPlay->click();
    Waveform* strip = form.waveform[0];
    ASSERT_TRUE(waitFor([&] { return strip->stepMark() != 0; })) << "no step was shown";
    const int first = strip->stepMark();
    QTest::qWait(50);
    const QImage a = onScreen(form);
    ASSERT_TRUE(waitFor([&] { return strip->stepMark() != first; }));
    QTest::qWait(50);
    const QImage b = onScreen(form);
    EXPECT_NE(a, idle);
    EXPECT_NE(a, b) << "the picture follows the steps";

    form.cmdStop->click();
    ASSERT_TRUE(waitFor([&] { return strip->stepMark() == 0; }));
    QTest::qWait(100);
    EXPECT_EQ(onScreen(form), idle) << "the marker goes with the sound";
}

}  // namespace
}  // namespace zb::test
