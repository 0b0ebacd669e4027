// Faults the program must survive, on the real window and the real program: the sound
// server going away during playback and during an export, a take folder that cannot be
// written, a full disk (a file-size limit) while the take is written or copied, a save
// target that cannot be written, and a data folder that cannot be created.
//
// The sound server of these tests is a private PulseAudio instance with its own runtime
// folder and null sink, so killing it never disturbs the server the other tests share.
// Tests run as root, for whom permission bits stop nothing: a folder that "cannot be
// written" is one whose path runs below a regular file.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <csignal>
#include <functional>

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

using namespace std::chrono_literals;

// A PulseAudio server of the test's own, with a null sink and a silent microphone.
class PrivatePulse {
public:
    ~PrivatePulse() { kill(); }

    bool start(QString* why) {
        if (!dir_.isValid()) {
            *why = "no temporary folder";
            return false;
        }
        const QDir d(dir_.path());
        for (const char* sub : {"runtime", "config", "home"}) d.mkpath(sub);
        QFile::setPermissions(d.filePath("runtime"), QFileDevice::ReadOwner |
                                                         QFileDevice::WriteOwner |
                                                         QFileDevice::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", d.filePath("home"));
        env.insert("XDG_CONFIG_HOME", d.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", d.filePath("runtime"));
        env.insert("PULSE_RUNTIME_PATH", d.filePath("runtime/pulse"));
        env.remove("PULSE_SERVER");
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setStandardOutputFile(d.filePath("pulseaudio.log"));
        endWithTestProgram(process_);
        process_.start("pulseaudio",
                       {"--daemonize=no", "--system=false", "-n", "--exit-idle-time=-1",
                        "--disallow-exit", "--use-pid-file=no", "--log-target=stderr",
                        "--load=module-null-sink sink_name=reliability_null",
                        "--load=module-native-protocol-unix"});
        if (!process_.waitForStarted(10000)) {
            *why = "pulseaudio did not start";
            return false;
        }
        server_ = "unix:" + d.filePath("runtime/pulse/native");
        QElapsedTimer waited;
        waited.start();
        while (runCommand("pactl", {"-s", server_, "info"}).exitCode != 0) {
            if (waited.elapsed() > 20000 || process_.state() != QProcess::Running) {
                *why = "the private PulseAudio server did not answer";
                return false;
            }
            QTest::qWait(100);
        }
        runCommand("pactl", {"-s", server_, "set-default-sink", "reliability_null"});
        // A silent microphone as the default input, as on users' desktops.
        runCommand("pactl", {"-s", server_, "load-module", "module-null-source",
                             "source_name=reliability_mic"});
        runCommand("pactl", {"-s", server_, "set-default-source", "reliability_mic"});
        return true;
    }

    // The server disappears at once, as when it crashes.
    void kill() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }

    QByteArray server() const { return server_.toLocal8Bit(); }

private:
    QTemporaryDir dir_;
    QProcess process_;
    QString server_;
};

// Waits, handling events, until done() holds; false when it still does not after the
// (generous) limit, which only guards against a hang.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 60s) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limit.count())
            return false;
        QTest::qWait(20);
    }
    return true;
}

int countMessages(const ScriptedDialogs& dialogs, const QString& text) {
    int n = 0;
    for (const MessageRecord& m : dialogs.messages) n += m.text == text ? 1 : 0;
    return n;
}

// Lowers the soft file-size limit for the scope's lifetime, the way a full disk or a
// quota makes writes fail. The program ignores SIGXFSZ (main.cpp); so does this process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit lowered = old_;
        lowered.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() { lift(); }
    void lift() {
        if (ok_)
            setrlimit(RLIMIT_FSIZE, &old_);
        ok_ = false;
    }
    bool ok() const { return ok_; }

private:
    rlimit old_{};
    bool ok_ = false;
};

// The main window on the real display, playing through RtAudio into a sound server (the
// private one when asked), recording that server's monitor, with scripted dialogs.
class RealWindow {
public:
    // Sets skip when the environment lacks a display or a sound server.
    explicit RealWindow(bool privateServer) {
        if (!displayConfigured()) {
            skip = "DISPLAY is not set (scripts/test.sh starts Xvfb)";
            return;
        }
        if (!ensureApp("xcb")) {
            skip = "a non-widget application exists already";
            return;
        }
        if (privateServer) {
            QString why;
            if (!pulse.start(&why)) {
                skip = "no private PulseAudio server: " + why.toStdString();
                return;
            }
            pulseEnv = std::make_unique<ScopedEnv>("PULSE_SERVER", pulse.server());
        } else if (!pulseServerReachable()) {
            skip = "no PulseAudio server answers `pactl info`";
            return;
        }
        const QDir d(root.path());
        d.mkpath("data/zembrola");
        d.mkpath("program");
        d.mkpath("saved");
        dataHome =
            std::make_unique<ScopedEnv>("XDG_DATA_HOME", QFile::encodeName(d.filePath("data")));
        // The registration writes its desktop files but starts no database tool.
        noRefresh = std::make_unique<ScopedEnv>("ZEMBROLA_NO_DESKTOP_REFRESH", "1");
        services.dialogs = &dialogs;
        services.audio = &audio;
        services.captureInput = &input;
        services.now = [] { return QDateTime::currentDateTime(); };
        services.programDir = d.filePath("program");
        services.executablePath = d.filePath("program/zembrola");
        services.dataDir = d.filePath("data/zembrola");
    }

    ~RealWindow() {
        if (form) {
            // Whatever a test left behind, the window goes without asking.
            form->exporter().takeSaved = true;
            form->close();
            form.reset();
        }
    }

    // Builds the window, loads a click into voice 1 and sets a fast tempo.
    ::testing::AssertionResult open(int tempo = 240) {
        form = std::make_unique<Form1>(services);
        if (!form->Form_Load())
            return ::testing::AssertionFailure() << "Form_Load failed";
        if (!form->session().soundDevice)
            return ::testing::AssertionFailure() << "no output device on the sound server";
        form->show();
        std::vector<float> click(4000, 0.0f);
        for (int i = 0; i < 64; ++i) click[static_cast<size_t>(i)] = 0.8f;
        const QString clickPath = QDir(root.path()).filePath("click.wav");
        if (!writeWav(clickPath.toStdString(), {}, click))
            return ::testing::AssertionFailure() << "could not write the click";
        dialogs.openAnswers.push_back({clickPath, 1});
        form->cmdSound[0]->click();
        if (!form->session().voices[0].mainBuffer)
            return ::testing::AssertionFailure() << "the click did not load";
        form->SldBPM->setValue(tempo);
        return ::testing::AssertionSuccess();
    }

    // Waits until the output's frame count moves (a fresh null sink may hold its clock).
    bool outputFlows() {
        const int64_t start = form->session().soundDevice->engine().framesRendered();
        return waitFor(
            [&] { return form->session().soundDevice->engine().framesRendered() > start + 4410; });
    }

    // Runs one export to its end; the end-of-take save dialog gets `saveAnswer`.
    bool exportTake(const QString& saveAnswer) {
        dialogs.saveAnswers.push_back(saveAnswer);
        form->cmdStartRecord->click();
        if (!form->exporter().exporting())
            return false;
        return waitFor([&] { return !form->exporter().exporting(); });
    }

    QString savedPath(const QString& name) const {
        return QDir(root.path()).filePath("saved/" + name);
    }

    std::string skip;
    PrivatePulse pulse;
    std::unique_ptr<ScopedEnv> pulseEnv;
    QTemporaryDir root;
    std::unique_ptr<ScopedEnv> dataHome;
    std::unique_ptr<ScopedEnv> noRefresh;
    ScriptedDialogs dialogs;
    audio::RtAudioSystem audio;
    capture::DesktopInputSystem input;
    Services services;
    std::unique_ptr<Form1> form;
};

#define OPEN_REAL_WINDOW(w, privateServer, ...) \
    RealWindow w(privateServer);                \
    if (!w.skip.empty())                        \
        GTEST_SKIP() << w.skip;                 \
    ASSERT_TRUE(w.open(__VA_ARGS__));

const QString kLost = QString::fromLatin1(kSoundLostText);

TEST(ReliabilityE2e, PlaybackGoesOnAndTheUserIsToldOnceWhenTheSoundServerDisappears) {
    OPEN_REAL_WINDOW(w, true);
    Form1& form = *w.form;
    ASSERT_TRUE(form.session().soundDevice->driver().realtime());
    ASSERT_TRUE(w.outputFlows()) << "the private null sink never started its clock";

    QSignalSpy steps(form.timBpm, &StepTimer::timeout);
    form.cmdPlay->click();
    ASSERT_TRUE(waitFor([&] { return steps.count() >= 8; }));

    w.pulse.kill();
    ASSERT_TRUE(waitFor([&] { return countMessages(w.dialogs, kLost) > 0; }))
        << "the user was never told that the sound output stopped";
    EXPECT_EQ(w.dialogs.messages.back().caption, "Zembrola");
    EXPECT_EQ(w.dialogs.messages.back().icon, MsgIcon::Error);

    // The output thread stopped instead of spinning on a dead connection: no frame moves.
    const int64_t frozen = form.session().soundDevice->engine().framesRendered();
    QTest::qWait(300);
    EXPECT_EQ(form.session().soundDevice->engine().framesRendered(), frozen);

    // The loop goes on, on the wall clock.
    const int before = steps.count();
    EXPECT_TRUE(waitFor([&] { return steps.count() >= before + 8; }))
        << "the step clock stopped with the sound server";

    // The window still answers: stop, play and a tempo change work, and nothing asks again.
    form.cmdStop->click();
    EXPECT_FALSE(form.timBpm->isActive());
    EXPECT_TRUE(form.cmdPlay->isEnabled());
    form.SldBPM->setValue(200);
    EXPECT_EQ(form.txtBPM->text(), "200");
    form.cmdPlay->click();
    const int again = steps.count();
    EXPECT_TRUE(waitFor([&] { return steps.count() >= again + 8; }));
    form.cmdStop->click();
    form.cmdKill[0]->click();
    EXPECT_FALSE(form.session().voices[0].mainBuffer);
    EXPECT_EQ(countMessages(w.dialogs, kLost), 1);

    form.close();
    EXPECT_TRUE(form.unloaded());
}

TEST(ReliabilityE2e, AnExportCutOffFromTheSoundServerEndsKeepsItsTakeAndTheGuardHolds) {
    // 30 beats per minute: a take of 8 s, so the server goes away in the middle of it.
    OPEN_REAL_WINDOW(w, true, 30);
    Form1& form = *w.form;
    ASSERT_TRUE(w.outputFlows());

    form.cmdStartRecord->click();  // the end-of-take save dialog is cancelled
    ASSERT_TRUE(form.exporter().exporting());
    ASSERT_TRUE(waitFor([&] { return form.session().currentStep >= 6; }));
    w.pulse.kill();
    ASSERT_TRUE(waitFor([&] { return !form.exporter().exporting(); }, 120s))
        << "the export never ended without its sound server";

    EXPECT_EQ(countMessages(w.dialogs, kLost), 1);
    EXPECT_TRUE(w.dialogs.messages.back().text.contains("shorter than the loop"));
    ASSERT_EQ(w.dialogs.saves.size(), 1u);
    EXPECT_FALSE(form.exporter().takeSaved);
    const QString take = form.exporter().takePath;
    ASSERT_FALSE(take.isEmpty());
    // What was recorded before the server went away is a readable take.
    const test::WavRead info = test::readWav(take);
    ASSERT_TRUE(info.ok) << "no readable take at " << take.toStdString();
    EXPECT_EQ(info.info.channels, 2);
    EXPECT_GT(info.info.frames, 0);
    EXPECT_TRUE(form.cmdStartRecord->isEnabled());

    // The take guard: Cancel keeps the window, No saves the take and lets it close.
    w.dialogs.messageAnswers.push_back(MsgResult::Cancel);
    form.close();
    EXPECT_FALSE(form.unloaded());
    EXPECT_EQ(w.dialogs.messages.back().text, "Quit Without Saving ?");
    w.dialogs.messageAnswers.push_back(MsgResult::No);
    w.dialogs.saveAnswers.push_back(w.savedPath("cut short"));
    form.close();
    EXPECT_TRUE(form.unloaded());
    EXPECT_TRUE(form.exporter().takeSaved);
    EXPECT_TRUE(test::readWav(w.savedPath("cut short.Wav")).ok);
    EXPECT_FALSE(QFile::exists(take));
}

TEST(ReliabilityE2e, TheLookAheadCoversTheOutputsChunksSoNoStepIsLate) {
    OPEN_REAL_WINDOW(w, false);
    Form1& form = *w.form;
    const audio::OutputDriver& driver = form.session().soundDevice->driver();
    ASSERT_GT(driver.chunkFrames(), 0);
    EXPECT_GT(form.timBpm->frameClock().lookahead, driver.chunkFrames());
    // Every step of a fast loop reaches the engine before the chunk holding its frame.
    form.cmbNote[0]->setSelectedIndex(1);
    form.ckLoop->setChecked(true);
    QSignalSpy steps(form.timBpm, &StepTimer::timeout);
    const uint64_t late = form.session().soundDevice->engine().lateBatches();
    form.cmdPlay->click();
    ASSERT_TRUE(waitFor([&] { return steps.count() >= 64; }));
    form.cmdStop->click();
    EXPECT_EQ(form.session().soundDevice->engine().lateBatches(), late);
}

TEST(ReliabilityE2e, SoundComesBackWithItsServerAndTheNextExportHoldsTheWholeLoop) {
    OPEN_REAL_WINDOW(w, true);
    Form1& form = *w.form;
    ASSERT_TRUE(w.outputFlows());
    w.pulse.kill();
    ASSERT_TRUE(waitFor([&] { return countMessages(w.dialogs, kLost) == 1; }));
    QString why;
    ASSERT_TRUE(w.pulse.start(&why)) << why.toStdString();
    const QString back = QString::fromLatin1(kSoundBackText);
    ASSERT_TRUE(waitFor([&] { return countMessages(w.dialogs, back) == 1; }))
        << "the sound never came back with its server";

    // Clicks on steps 1, 5, 17 and 21, recorded whole from the new server's monitor.
    form.cmbNote[0]->setSelectedIndex(1);
    form.cmbFreq[0]->setSelectedIndex(1);
    ASSERT_TRUE(w.exportTake(w.savedPath("after")));
    const test::WavRead take = test::readWav(w.savedPath("after.Wav"));
    ASSERT_TRUE(take.ok);
    const double steps = take.info.frames / (44.1 * form.timRec->interval());
    EXPECT_GT(steps, 32 * 0.7);
    EXPECT_LT(steps, 32 * 1.3);
    EXPECT_EQ(onsets(take.samples, 0, 0.3f, 2000).size(), 4u);
    EXPECT_EQ(countMessages(w.dialogs, kLost), 1);
    EXPECT_EQ(countMessages(w.dialogs, back), 1);
}

TEST(ReliabilityE2e, ATakeFolderThatCannotBeWrittenSendsTheTakeToAPrivateFolder) {
    RealWindow w(true);
    if (!w.skip.empty())
        GTEST_SKIP() << w.skip;
    // The data folder's path runs below a regular file: nothing can be created there.
    const QString blocker = QDir(w.root.path()).filePath("data-is-a-file");
    writeBytes(blocker.toStdString(), "x");
    w.services.dataDir = blocker + "/zembrola";
    ASSERT_TRUE(w.open());
    Form1& form = *w.form;
    ASSERT_TRUE(w.outputFlows());

    ASSERT_TRUE(w.exportTake(QString()));  // the save dialog is cancelled
    const QString take = form.exporter().takePath;
    // A folder only this user can enter.
    EXPECT_EQ((QFileInfo(QFileInfo(take).path()).permissions() & 0x0077).toInt(), 0)
        << take.toStdString();
    ASSERT_TRUE(test::readWav(take).ok) << "the take was lost";
    // The user was told where it went.
    bool told = false;
    for (const MessageRecord& m : w.dialogs.messages)
        told = told || (m.text.contains(blocker) && m.text.contains(take));
    EXPECT_TRUE(told);
    EXPECT_EQ(readBytes(blocker.toStdString()), "x");  // the file in the way is untouched

    // Saving still works from there.
    w.dialogs.saveAnswers.push_back(w.savedPath("from temp"));
    form.exporter().cmdSave_Click();
    EXPECT_TRUE(form.exporter().takeSaved);
    EXPECT_TRUE(test::readWav(w.savedPath("from temp.Wav")).ok);
    EXPECT_FALSE(QFile::exists(take));
}

TEST(ReliabilityE2e, AFullDiskWhileTheTakeIsWrittenKeepsItInMemoryUntilItIsSaved) {
    OPEN_REAL_WINDOW(w, true);
    Form1& form = *w.form;
    ASSERT_TRUE(w.outputFlows());

    {
        // Room for a few kilobytes, far less than one second of stereo.
        FileSizeLimit full(4096);
        ASSERT_TRUE(full.ok());
        ASSERT_TRUE(w.exportTake(w.savedPath("while full")));
        const QString take = form.exporter().takePath;
        EXPECT_FALSE(QFile::exists(take));
        EXPECT_FALSE(QFile::exists(w.savedPath("while full.Wav")));  // no partial file
        EXPECT_FALSE(form.exporter().takeSaved);
        bool toldMemory = false, toldNotSaved = false;
        for (const MessageRecord& m : w.dialogs.messages) {
            toldMemory = toldMemory || m.text.contains("kept in memory");
            toldNotSaved = toldNotSaved || m.text.contains("was not saved as");
        }
        EXPECT_TRUE(toldMemory);
        EXPECT_TRUE(toldNotSaved);

        // The guard holds: the window does not close on an unsaved take.
        w.dialogs.messageAnswers.push_back(MsgResult::Cancel);
        form.close();
        EXPECT_FALSE(form.unloaded());
        // Nor when the answer is No and the save fails or is cancelled: the program would
        // end with the only copy.
        w.dialogs.messageAnswers.push_back(MsgResult::No);
        w.dialogs.saveAnswers.push_back(w.savedPath("on close"));
        form.close();
        EXPECT_FALSE(form.unloaded());
        w.dialogs.messageAnswers.push_back(MsgResult::No);
        w.dialogs.saveAnswers.push_back(QString());
        form.close();
        EXPECT_FALSE(form.unloaded());
        // Nor does a new export drop it when its save fails again.
        w.dialogs.messageAnswers.push_back(MsgResult::No);
        w.dialogs.saveAnswers.push_back(w.savedPath("still full"));
        form.cmdStartRecord->click();
        EXPECT_FALSE(form.exporter().exporting());
    }

    // Room again: the take is written straight from memory.
    w.dialogs.saveAnswers.push_back(w.savedPath("after"));
    form.exporter().cmdSave_Click();
    EXPECT_TRUE(form.exporter().takeSaved);
    const test::WavRead saved = test::readWav(w.savedPath("after.Wav"));
    ASSERT_TRUE(saved.ok);
    EXPECT_GT(saved.info.frames, 44100 / 2);
}

TEST(ReliabilityE2e, AFullDiskOrAnUnwritableTargetWhileTheTakeIsCopiedKeepsTheTake) {
    OPEN_REAL_WINDOW(w, true);
    Form1& form = *w.form;
    ASSERT_TRUE(w.outputFlows());
    ASSERT_TRUE(w.exportTake(QString()));
    const QString take = form.exporter().takePath;
    const std::string original = readBytes(take.toStdString());
    ASSERT_GT(original.size(), 44100u);

    struct Case {
        const char* what;
        QString target;  // as chosen in the save dialog
        rlim_t limit;    // 0: no limit
        const char* reason;
    };
    const QString blocker = QDir(w.root.path()).filePath("not-a-folder");
    writeBytes(blocker.toStdString(), "x");
    const Case cases[] = {
        {"disk full", w.savedPath("full"), 8192, "File too large"},
        {"target below a file", blocker + "/take", 0, "Not a directory"},
        {"target folder missing", w.savedPath("gone/take"), 0, "No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        w.dialogs.saveAnswers.push_back(c.target);
        const size_t before = w.dialogs.messages.size();
        {
            std::unique_ptr<FileSizeLimit> limit;
            if (c.limit != 0)
                limit = std::make_unique<FileSizeLimit>(c.limit);
            form.exporter().cmdSave_Click();
        }
        EXPECT_FALSE(form.exporter().takeSaved);
        EXPECT_FALSE(QFile::exists(c.target + ".Wav"));  // nothing half-written is left
        EXPECT_EQ(readBytes(take.toStdString()), original);
        ASSERT_EQ(w.dialogs.messages.size(), before + 1);
        const QString text = w.dialogs.messages.back().text;
        EXPECT_TRUE(text.contains(take)) << text.toStdString();
        EXPECT_TRUE(text.contains(c.reason)) << text.toStdString();
    }
    EXPECT_EQ(readBytes(blocker.toStdString()), "x");
    w.dialogs.saveAnswers.push_back(w.savedPath("finally"));
    form.exporter().cmdSave_Click();
    EXPECT_TRUE(form.exporter().takeSaved);
    EXPECT_EQ(readBytes(w.savedPath("finally.Wav").toStdString()), original);
}

// The real program, started with a data folder that cannot be created and with a tiny
// file-size limit: it must start, show its window and end cleanly, touching no file.
TEST(ReliabilityE2e, TheProgramStartsWithAnUnwritableDataFolderAndUnderAFileSizeLimit) {
    if (!displayConfigured())
        GTEST_SKIP() << "DISPLAY is not set (scripts/test.sh starts Xvfb)";
    const QString program = builtProgram("zembrola");
    ASSERT_FALSE(program.isEmpty()) << "ZEMBROLA_BIN_DIR is not set";
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString blocker = QDir(root.path()).filePath("share-is-a-file");
    writeBytes(blocker.toStdString(), "x");

    struct Case {
        const char* what;
        QString program;
        QStringList args;
        QString dataHome;  // empty: the child's own
    };
    const Case cases[] = {
        {"data folder below a file", program, {}, blocker + "/share"},
        {"file size limit", "prlimit", {"--fsize=64", "--", program}, QString()},
        {"both", "prlimit", {"--fsize=64", "--", program}, blocker + "/share"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChildProgram child(c.program, c.args);
        if (!c.dataHome.isEmpty())
            child.setEnv("XDG_DATA_HOME", c.dataHome);
        ASSERT_TRUE(child.start());
        const auto window = child.waitForWindow("Zembrola", 30s);
        ASSERT_TRUE(window.has_value())
            << "the program " << child.describeEnd().toStdString() << "; its output:\n"
            << child.output().toStdString();
        EXPECT_TRUE(child.running());
        ASSERT_TRUE(child.terminate(10s));
        EXPECT_TRUE(child.endedCleanly()) << child.describeEnd().toStdString();
        EXPECT_TRUE(waitUntilNoWindow("Zembrola", 10s));
    }
    EXPECT_EQ(readBytes(blocker.toStdString()), "x");
}

}  // namespace
}  // namespace zb::test
