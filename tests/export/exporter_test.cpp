// The export on the real main window: offline sound engine, scripted dialogs, a fixed clock,
// and a synthetic recording input fed with exactly what the engine renders, so every take
// is a real WAV file written by the capture device.
#include "export/exporter.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QTest>
#include <atomic>
#include <chrono>
#include <climits>
#include <map>
#include <mutex>
#include <thread>
#include <type_traits>

#include "audio/engine.h"
#include "audio/sound.h"
#include "core/step_timer.h"
#include "export/capture_device.h"
#include "export/take_name.h"
#include "shell/sequencer.h"
#include "support/form_fixture.h"
#include "support/wav_fixtures.h"
#include "synthetic_input.h"

namespace zb {
namespace {

using test::FormFixture;

const QString kNoBufferText =
    "You must first load a wave file into a sound buffer before you can record a loop.";

const std::vector<std::string> kOpenCommands = {
    "open new Type waveaudio Alias capture",
    "set capture bitspersample 16",
    "set capture samplespersec 44100",
    "set capture channels 2",
};

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override { build(&input); }

    void build(capture::InputSystem* captureInput) {
        fx.reset();
        fx = std::make_unique<FormFixture>(test::FormFixtureOptions{.captureInput = captureInput});
        ASSERT_TRUE(fx->loadResult());
        form().show();
        exporter().captureDevice().setTrace([this](const std::string& command, int32_t code) {
            commands.push_back({events, command});
            codes.push_back(code);
        });
        // After each export step, the recording input hears one step of what the engine
        // plays, as a sound card would between two timer events.
        using RecTimer = std::remove_pointer_t<decltype(form().timRec)>;
        QObject::connect(form().timRec, &RecTimer::timeout, [this] {
            if (!input.running() || !form().session().soundDevice)
                return;
            input.feedFloat(fx->render(stepFrames()));
        });
    }

    Form1& form() { return fx->form(); }
    Exporter& exporter() { return form().exporter(); }
    test::ScriptedDialogs& dialogs() { return fx->dialogs; }
    int64_t stepFrames() { return int64_t{form().timRec->interval()} * 44100 / 1000; }

    // A click: a short loud burst, then silence, longer than a step at any tempo used here.
    QString clickSample() {
        std::vector<float> s(8000, 0.0f);
        for (int i = 0; i < 64; ++i) s[static_cast<size_t>(i)] = 0.9f;
        const QString path = QDir(fx->tempDir).filePath("click.wav");
        EXPECT_TRUE(test::writeWav(path.toStdString(), {}, s));
        return path;
    }

    void loadClick(int voice) {
        dialogs().openAnswers.push_back({clickSample(), 1});
        form().cmdSound[voice]->click();
        test::pumpEvents();
        ASSERT_TRUE(form().session().voices[voice].mainBuffer) << "the click sample did not load";
    }

    // Runs timRec's events through its signal until the export has ended; returns how many.
    int runExport() {
        int n = 0;
        while (form().timRec->isActive() && n < 100) {
            ++events;
            ++n;
            QMetaObject::invokeMethod(form().timRec, "timeout", Qt::DirectConnection);
        }
        return n;
    }
    void step(int count) {
        for (int i = 0; i < count; ++i) {
            ++events;
            QMetaObject::invokeMethod(form().timRec, "timeout", Qt::DirectConnection);
        }
    }

    // Exports once and cancels the save dialog: leaves an unsaved take on disk.
    QString exportUnsaved() {
        form().cmdStartRecord->click();
        EXPECT_TRUE(form().timRec->isActive());
        runExport();
        EXPECT_TRUE(QFile::exists(exporter().takePath));
        EXPECT_FALSE(exporter().takeSaved);
        return exporter().takePath;
    }

    std::vector<std::string> commandTexts() const {
        std::vector<std::string> out;
        for (const auto& c : commands) out.push_back(c.second);
        return out;
    }

    QString target(const QString& name) { return QDir(fx->tempDir).filePath(name); }

    // Closes the window ten steps into an export whose take then ends while "Quit Without
    // Saving ?" is up, answered with `answer` (and a Save As with `saveAs`, unless empty).
    struct ClosedDuringTake {
        QString take;                 // the take's path before the window closed
        size_t shownWhileAsked = 99;  // messages and save dialogs that came over the question
    };
    ClosedDuringTake closeWhileTheTakeEnds(MsgResult answer, const QString& saveAs) {
        loadClick(0);
        form().cmdStartRecord->click();
        step(10);
        dialogs().clear();
        dialogs().messageAnswers.push_back(answer);
        if (!saveAs.isEmpty())
            dialogs().saveAnswers.push_back(target(saveAs));
        ClosedDuringTake closed;
        closed.take = exporter().takePath;
        dialogs().onMessage = [&](const test::MessageRecord& m) {
            if (m.text != "Quit Without Saving ?")
                return;
            runExport();
            closed.shownWhileAsked = dialogs().messages.size() + dialogs().saves.size();
        };
        form().close();
        dialogs().onMessage = nullptr;
        return closed;
    }
    void exportOnTheOutputsClock(int64_t inputDelay);

    test::SyntheticInput input;
    std::unique_ptr<FormFixture> fx;
    int events = 0;
    std::vector<std::pair<int, std::string>> commands;  // (timer event, command)
    std::vector<int32_t> codes;
};

TEST_F(ExportTest, FirstExportAfterStartUpBeginsWithASilentStep) {
    loadClick(0);
    ASSERT_EQ(form().session().currentStep, 0);
    form().ckLoop->setChecked(true);  // an export plays one pass whatever the loop box says
    dialogs().saveAnswers.push_back(target("loop"));
    form().cmdStartRecord->click();
    EXPECT_TRUE(exporter().exporting());
    const QString takePath = exporter().takePath;
    EXPECT_EQ(takePath, QDir(fx->dataDir).filePath("takes/0309202402245I07PM.WAV"));
    EXPECT_EQ(commandTexts(), kOpenCommands);

    EXPECT_EQ(runExport(), 34);

    const std::string save = "save capture " + takePath.toStdString();
    const std::vector<std::pair<int, std::string>> expected = {
        {0, kOpenCommands[0]},
        {0, kOpenCommands[1]},
        {0, kOpenCommands[2]},
        {0, kOpenCommands[3]},
        {1, "record capture"},
        {34, "stop capture"},
        {34, save},
        {34, "close capture"},
    };
    EXPECT_EQ(commands, expected);
    EXPECT_EQ(codes, std::vector<int32_t>(8, capture::kOk));
    EXPECT_EQ(form().session().currentStep, 1);
    EXPECT_FALSE(exporter().exporting());
    EXPECT_FALSE(exporter().captureStarted);

    // The Save As action ran at the end of the take and moved the take to the chosen name.
    ASSERT_EQ(dialogs().saves.size(), 1u);
    EXPECT_EQ(dialogs().saves[0].title, "Save Wave File");
    EXPECT_EQ(dialogs().saves[0].filter, "*.WAV");
    EXPECT_TRUE(exporter().takeSaved);
    EXPECT_FALSE(QFile::exists(takePath));
    const test::WavRead take = test::readWav(target("loop.Wav"));
    ASSERT_TRUE(take.ok);
    EXPECT_EQ(take.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(take.info.channels, 2);
    EXPECT_EQ(take.info.samplerate, 44100);
    // One silent step, then the 32 steps; "Whole" on "4" clicks at steps 1, 9, 17 and 25.
    const int64_t n = stepFrames();
    EXPECT_EQ(take.info.frames, 33 * n);
    const std::vector<int64_t> clicks = {1 * n, 9 * n, 17 * n, 25 * n};
    EXPECT_EQ(test::onsets(take.samples, 0, 0.5f, n / 2), clicks);

    // Idle again: buttons and caption as before the export.
    EXPECT_EQ(form().cmdStartRecord->text(), ">> export >>");
    EXPECT_TRUE(form().cmdStartRecord->isEnabled());
    EXPECT_TRUE(form().cmdPlay->isEnabled());
    EXPECT_FALSE(form().cmdStop->isEnabled());
    EXPECT_TRUE(form().SldBPM->isEnabled());
}

TEST_F(ExportTest, ExportAfterAStopStartsWithStepOne) {
    loadClick(0);
    form().cmdPlay->click();
    form().cmdStop->click();
    ASSERT_EQ(form().session().currentStep, 1);
    dialogs().saveAnswers.push_back(target("second"));
    form().cmdStartRecord->click();
    EXPECT_EQ(runExport(), 33);
    ASSERT_EQ(commands.size(), 8u);
    EXPECT_EQ(commands[4], (std::pair<int, std::string>{1, "record capture"}));
    EXPECT_EQ(commands[5], (std::pair<int, std::string>{33, "stop capture"}));
    const int64_t n = stepFrames();
    const test::WavRead take = test::readWav(target("second.Wav"));
    ASSERT_TRUE(take.ok);
    EXPECT_EQ(take.info.frames, 32 * n);
    const std::vector<int64_t> clicks = {0, 8 * n, 16 * n, 24 * n};
    EXPECT_EQ(test::onsets(take.samples, 0, 0.5f, n / 2), clicks);
    EXPECT_EQ(form().session().currentStep, 1);
}

TEST_F(ExportTest, WithoutASampleOnlyTheNoBufferMessage) {
    exporter().cmdStartRecord_Click();
    ASSERT_EQ(dialogs().messages.size(), 1u);
    EXPECT_EQ(dialogs().messages[0].text, kNoBufferText);
    EXPECT_EQ(dialogs().messages[0].caption, "No buffer");
    EXPECT_EQ(dialogs().messages[0].icon, MsgIcon::Information);
    EXPECT_EQ(dialogs().messages[0].buttons, MsgButtons::Ok);
    EXPECT_TRUE(commands.empty());
    EXPECT_FALSE(form().timRec->isActive());
    EXPECT_FALSE(exporter().exporting());
    EXPECT_TRUE(exporter().takePath.isEmpty());
}

TEST_F(ExportTest, ControlsAreLockedWhileExporting) {
    loadClick(0);
    form().cmdStartRecord->click();
    EXPECT_EQ(form().cmdStartRecord->text(), "...recording");
    std::vector<QWidget*> locked = {form().cmdPlay,  form().cmdStop, form().cmdStartRecord,
                                    form().txtBPM,   form().SldBPM,  form().ckLoop,
                                    form().Command1, form().Command2};
    for (int i = 0; i < Form1::kVoices; ++i) {
        for (QWidget* w : std::initializer_list<QWidget*>{
                 form().SldFrequency[i], form().SldPan[i], form().SldVolume[i], form().txtTone[i],
                 form().txtPan[i], form().txtVolume[i], form().cmbNote[i], form().cmbFreq[i],
                 form().cmbTone[i], form().cmbSub[i], form().cmbSubF[i], form().cmbLow[i]}) {
            locked.push_back(w);
        }
    }
    for (QWidget* w : locked) EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(form().cmdSound[1]->isEnabled());
    EXPECT_TRUE(form().cmdKill[0]->isEnabled());
    runExport();
    for (QWidget* w : locked) {
        if (w != form().cmdStop) {
            EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
        }
    }
}

TEST_F(ExportTest, SaveAsVariants) {
    struct Case {
        const char* what;
        QString answer;        // name typed into the save dialog, empty: cancelled
        QString expectedFile;  // the copy, empty when none must appear
        bool preexisting;      // a file of the copy's name is already there
        bool saved;
    };
    const Case cases[] = {
        {"plain name", "loop", "loop.Wav", false, true},
        {"name ending in .wav", "loop.wav", "loop.wav.Wav", false, true},
        {"existing target", "kept", "kept.Wav", true, false},
        {"cancelled", "", "", false, false},
        {"unwritable folder", "no/such/folder/x", "", false, false},
        // Names are file names, never shell words.
        {"blanks and quotes", "  it's a \"take\"  ", "  it's a \"take\"  .Wav", false, true},
        {"new line and shell syntax", "a\n$(touch pwned);`id`|x>y",
         "a\n$(touch pwned);`id`|x>y.Wav", false, true},
        {"longest name", QString(NAME_MAX - 4, QChar('t')),
         QString(NAME_MAX - 4, QChar('t')) + ".Wav", false, true},
        {"name too long", QString(NAME_MAX - 3, QChar('u')), "", false, false},
    };
    loadClick(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dialogs().clear();
        if (c.preexisting)
            test::writeBytes(target(c.expectedFile).toStdString(), "precious");
        dialogs().messageAnswers.push_back(MsgResult::Yes);  // drop any earlier unsaved take
        dialogs().saveAnswers.push_back(c.answer.isEmpty() ? QString() : target(c.answer));
        form().cmdStartRecord->click();
        runExport();
        const QString take = exporter().takePath;
        EXPECT_EQ(exporter().takeSaved, c.saved);
        EXPECT_EQ(QFile::exists(take), !c.saved);
        if (c.saved) {
            EXPECT_TRUE(test::readWav(target(c.expectedFile)).ok);
        } else if (c.preexisting) {
            EXPECT_EQ(test::readBytes(target(c.expectedFile).toStdString()), "precious");
        }
        EXPECT_FALSE(QFile::exists(target("pwned")));
        const bool told = c.preexisting || c.answer.startsWith("no/") || c.answer.startsWith("uuu");
        size_t errors = 0;
        for (const auto& m : dialogs().messages) {
            if (m.icon != MsgIcon::Error)
                continue;
            ++errors;
            EXPECT_TRUE(m.text.contains("not saved")) << m.text.toStdString();
            EXPECT_TRUE(m.text.contains(take)) << m.text.toStdString();
            EXPECT_EQ(m.caption, "WAV Recorder");
        }
        EXPECT_EQ(errors, told ? 1u : 0u);
    }
}

TEST_F(ExportTest, FileNotSavedQuestionAtTheNextExport) {
    struct Case {
        const char* what;
        MsgResult answer;
        bool exportStarts;
        bool oldTakeKept;
    };
    const Case cases[] = {
        {"yes deletes the old take", MsgResult::Yes, true, false},
        {"no saves it first", MsgResult::No, true, false},
        {"cancel keeps everything", MsgResult::Cancel, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        build(&input);
        loadClick(0);
        const QString oldTake = exportUnsaved();
        dialogs().clear();
        commands.clear();
        dialogs().messageAnswers.push_back(c.answer);
        if (c.answer == MsgResult::No)
            dialogs().saveAnswers.push_back(target("first"));
        form().cmdStartRecord->click();
        ASSERT_EQ(dialogs().messages.size(), 1u);
        EXPECT_EQ(dialogs().messages[0].text, "File Not Saved. Proceed?");
        EXPECT_EQ(dialogs().messages[0].caption, "WAV Recorder");
        EXPECT_EQ(dialogs().messages[0].icon, MsgIcon::None);
        EXPECT_EQ(dialogs().messages[0].buttons, MsgButtons::YesNoCancel);
        EXPECT_EQ(form().timRec->isActive(), c.exportStarts);
        EXPECT_EQ(QFile::exists(oldTake), c.oldTakeKept);
        EXPECT_EQ(dialogs().saves.size(), c.answer == MsgResult::No ? 1u : 0u);
        if (c.answer == MsgResult::No) {
            EXPECT_TRUE(test::readWav(target("first.Wav")).ok);
        }
        if (c.exportStarts) {
            EXPECT_EQ(commandTexts(), kOpenCommands);
            EXPECT_FALSE(exporter().takeSaved);
            runExport();
        } else {
            EXPECT_TRUE(commands.empty());
            EXPECT_EQ(exporter().takePath, oldTake);
            EXPECT_FALSE(exporter().exporting());
            EXPECT_EQ(form().cmdStartRecord->text(), ">> export >>");
            EXPECT_TRUE(form().cmdStartRecord->isEnabled());
            EXPECT_TRUE(form().cmdPlay->isEnabled());
        }
    }
}

TEST_F(ExportTest, AKeptTakeIsNeverOverwrittenByTheNextOne) {
    loadClick(0);
    const QString first = exportUnsaved();
    const QByteArray firstBytes = QByteArray::fromStdString(test::readBytes(first.toStdString()));
    // Same second on the clock; "No" with a cancelled save leaves the first take on disk.
    dialogs().messageAnswers.push_back(MsgResult::No);
    form().cmdStartRecord->click();
    runExport();
    const QString second = exporter().takePath;
    EXPECT_NE(second, first);
    EXPECT_EQ(QFileInfo(second).fileName(), "0309202402245I07PM_2.WAV");
    EXPECT_TRUE(test::readWav(second).ok);
    EXPECT_EQ(QByteArray::fromStdString(test::readBytes(first.toStdString())), firstBytes);
}

TEST_F(ExportTest, QuitWithoutSavingQuestion) {
    struct Case {
        const char* what;
        MsgResult answer;
        bool closes;
        bool takeKept;
        bool released;
    };
    const Case cases[] = {
        {"yes deletes and releases", MsgResult::Yes, true, false, true},
        {"no saves first", MsgResult::No, true, false, false},
        {"cancel keeps the window", MsgResult::Cancel, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        build(&input);
        loadClick(0);
        const QString take = exportUnsaved();
        dialogs().clear();
        dialogs().messageAnswers.push_back(c.answer);
        if (c.answer == MsgResult::No)
            dialogs().saveAnswers.push_back(target("kept"));
        form().close();
        ASSERT_EQ(dialogs().messages.size(), 1u);
        EXPECT_EQ(dialogs().messages[0].text, "Quit Without Saving ?");
        EXPECT_EQ(dialogs().messages[0].caption, "WAV Recorder");
        EXPECT_EQ(dialogs().messages[0].icon, MsgIcon::None);
        EXPECT_EQ(dialogs().messages[0].buttons, MsgButtons::YesNoCancel);
        EXPECT_EQ(form().unloaded(), c.closes);
        EXPECT_EQ(QFile::exists(take), c.takeKept);
        EXPECT_EQ(form().session().soundDevice == nullptr, c.released);
        EXPECT_EQ(form().session().voices[0].mainBuffer == nullptr, c.released);
        if (c.answer == MsgResult::No) {
            EXPECT_TRUE(test::readWav(target("kept.Wav")).ok);
        }
    }
}

// Yes gives up everything with the take: the other windows close and what sounds stops.
TEST_F(ExportTest, QuittingWithoutSavingClosesTheOtherWindowsAndStopsTheSound) {
    loadClick(0);
    exportUnsaved();
    QWidget webPage;
    webPage.show();
    const std::shared_ptr<audio::SoundBuffer> playing = form().session().voices[0].mainBuffer;
    playing->SetPlayPosition(0);
    playing->Play(0);
    fx->render(16);
    ASSERT_EQ(playing->GetStatus(), audio::kStatusPlaying);
    dialogs().messageAnswers.push_back(MsgResult::Yes);
    form().close();
    EXPECT_TRUE(form().unloaded());
    EXPECT_FALSE(webPage.isVisible());
    EXPECT_EQ(playing->GetStatus(), 0);
}

TEST_F(ExportTest, NoQuestionWithoutAnUnsavedTake) {
    loadClick(0);
    dialogs().saveAnswers.push_back(target("saved"));
    form().cmdStartRecord->click();
    runExport();
    ASSERT_TRUE(exporter().takeSaved);
    dialogs().clear();
    form().cmdStartRecord->click();  // no "File Not Saved. Proceed?"
    EXPECT_TRUE(dialogs().messages.empty());
    runExport();
    dialogs().clear();
    dialogs().saveAnswers.push_back(target("again"));
    exporter().cmdSave_Click();
    dialogs().clear();
    form().close();  // no "Quit Without Saving ?"
    EXPECT_TRUE(dialogs().messages.empty());
    EXPECT_TRUE(form().unloaded());
}

TEST_F(ExportTest, ClosingDuringAnExport) {
    struct Case {
        const char* what;
        MsgResult answer;
        bool closes;
    };
    const Case cases[] = {
        {"cancel lets the export go on", MsgResult::Cancel, false},
        {"no saves what was recorded", MsgResult::No, true},
        {"yes discards the recording", MsgResult::Yes, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        build(&input);
        loadClick(0);
        form().cmdStartRecord->click();
        step(10);
        const QString take = exporter().takePath;
        dialogs().clear();
        commands.clear();
        dialogs().messageAnswers.push_back(c.answer);
        if (c.answer == MsgResult::No)
            dialogs().saveAnswers.push_back(target("partial"));
        form().close();
        ASSERT_GE(dialogs().messages.size(), 1u);
        EXPECT_EQ(dialogs().messages[0].text, "Quit Without Saving ?");
        EXPECT_EQ(form().unloaded(), c.closes);
        if (c.answer == MsgResult::Cancel) {
            EXPECT_TRUE(form().timRec->isActive());
            EXPECT_TRUE(exporter().exporting());
            dialogs().saveAnswers.push_back(target("whole"));
            runExport();
            EXPECT_TRUE(test::readWav(target("whole.Wav")).ok);
            continue;
        }
        // Either way the export is over: no timer, no dialog later on a closed window.
        EXPECT_FALSE(form().timRec->isActive());
        EXPECT_FALSE(exporter().exporting());
        EXPECT_FALSE(input.running());
        EXPECT_FALSE(QFile::exists(take));
        if (c.answer == MsgResult::No) {
            const test::WavRead partial = test::readWav(target("partial.Wav"));
            ASSERT_TRUE(partial.ok);
            EXPECT_EQ(partial.info.frames, 10 * stepFrames());
            EXPECT_TRUE(exporter().takeSaved);
        } else {
            EXPECT_EQ(commandTexts(), (std::vector<std::string>{"stop capture", "close capture"}));
            EXPECT_TRUE(dialogs().saves.empty());
        }
    }
}

// The question is modal but the export's timer runs on: the take may end while it is up.
// Its Save As waits for the answer instead of opening over the question; then No saves,
// Cancel offers the save the end of the take would have offered, Yes deletes the take.
TEST_F(ExportTest, ATakeThatEndsWhileTheQuitQuestionIsUpWaitsForTheAnswer) {
    for (const MsgResult answer : {MsgResult::No, MsgResult::Cancel, MsgResult::Yes}) {
        SCOPED_TRACE(static_cast<int>(answer));
        build(&input);
        const ClosedDuringTake closed =
            closeWhileTheTakeEnds(answer, answer != MsgResult::Yes ? "ended meanwhile" : "");
        EXPECT_EQ(closed.shownWhileAsked, 0u);
        EXPECT_FALSE(exporter().exporting());
        EXPECT_EQ(dialogs().messages.size(), 1u);  // no failure message
        EXPECT_EQ(form().unloaded(), answer != MsgResult::Cancel);
        EXPECT_EQ(dialogs().saves.size(), answer == MsgResult::Yes ? 0u : 1u);
        EXPECT_EQ(exporter().takeSaved, answer != MsgResult::Yes);
        EXPECT_EQ(test::readWav(target("ended meanwhile.Wav")).ok, answer != MsgResult::Yes);
        EXPECT_FALSE(QFile::exists(closed.take));
    }
}

// Where the take went when its folder could not hold it is said after the question too.
TEST_F(ExportTest, NoMessageOfTheTakesEndOpensOverTheQuitQuestion) {
    build(&input);
    QFile blocker(QDir(fx->dataDir).filePath("takes"));  // a file where the take folder goes
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(fx->tempDir));
    const size_t shownWhileAsked = closeWhileTheTakeEnds(MsgResult::Cancel, "kept").shownWhileAsked;
    qputenv("TMPDIR", oldTmp);
    EXPECT_EQ(shownWhileAsked, 0u);
    ASSERT_EQ(dialogs().messages.size(), 2u);
    EXPECT_TRUE(dialogs().messages[1].text.contains(exporter().takePath));
    EXPECT_EQ(dialogs().saves.size(), 1u);
    EXPECT_TRUE(test::readWav(target("kept.Wav")).ok);
}

TEST_F(ExportTest, ACaptureDeviceWithoutInputStillEndsTheExport) {
    build(nullptr);
    loadClick(0);
    dialogs().saveAnswers.push_back(target("nothing"));
    form().cmdStartRecord->click();
    EXPECT_EQ(runExport(), 34);
    EXPECT_NE(codes[4], capture::kOk);  // "record capture" failed, quietly
    EXPECT_FALSE(QFile::exists(exporter().takePath));
    EXPECT_FALSE(QFile::exists(target("nothing.Wav")));
    EXPECT_FALSE(exporter().takeSaved);
    // Said at the end of the take; no Save dialog asks for a name for nothing.
    ASSERT_EQ(dialogs().messages.size(), 1u);
    EXPECT_TRUE(dialogs().messages[0].text.startsWith("Nothing was recorded"));
    EXPECT_EQ(dialogs().saveAnswers.size(), 1u);
    EXPECT_EQ(form().cmdStartRecord->text(), ">> export >>");
    EXPECT_EQ(form().session().currentStep, 1);
}

TEST_F(ExportTest, ExportAndPlaybackNeverRunTogether) {
    loadClick(0);
    // Export pressed while the loop plays (a load re-enabled the button): playback stops first.
    form().cmdPlay->click();
    ASSERT_TRUE(form().timBpm->isActive());
    exporter().cmdStartRecord_Click();
    EXPECT_FALSE(form().timBpm->isActive());
    EXPECT_TRUE(form().timRec->isActive());
    EXPECT_EQ(form().session().currentStep, 1);
    step(3);
    // During the export neither a second export nor playback may start.
    commands.clear();
    exporter().cmdStartRecord_Click();
    EXPECT_TRUE(commands.empty());
    form().sequencer().cmdPlay_Click();
    EXPECT_FALSE(form().timBpm->isActive());
    EXPECT_EQ(runExport(), 30);
}

TEST_F(ExportTest, ALoadDuringAnExportDoesNotHandBackPlayOrExport) {
    loadClick(0);
    form().cmdStartRecord->click();
    step(2);
    loadClick(1);
    EXPECT_FALSE(form().cmdPlay->isEnabled());
    EXPECT_FALSE(form().cmdStartRecord->isEnabled());
    EXPECT_FALSE(form().Command1->isEnabled());
    EXPECT_FALSE(form().Command2->isEnabled());
    // The new voice takes part from the next step on, and the export ends as usual.
    runExport();
    EXPECT_FALSE(exporter().exporting());
    EXPECT_TRUE(form().cmdPlay->isEnabled());
}

// A voice cleared during an export is silent from the next step on; with every voice
// cleared the take still ends as usual and the controls come back, although only the
// "No buffer" message can come of the export button then.
TEST_F(ExportTest, ClearingEveryVoiceDuringAnExportSilencesTheRestOfTheTake) {
    loadClick(0);
    dialogs().saveAnswers.push_back(target("cleared"));
    form().cmdStartRecord->click();
    step(11);  // the silent step and steps 1 to 10
    form().cmdKill[0]->click();
    EXPECT_EQ(runExport(), 23);
    EXPECT_FALSE(exporter().exporting());
    const test::WavRead take = test::readWav(target("cleared.Wav"));
    ASSERT_TRUE(take.ok);
    const int64_t n = stepFrames();
    EXPECT_EQ(take.info.frames, 33 * n);
    EXPECT_EQ(test::onsets(take.samples, 0, 0.5f, n / 2), (std::vector<int64_t>{1 * n, 9 * n}));

    EXPECT_TRUE(form().cmdStartRecord->isEnabled());
    EXPECT_EQ(form().cmdStartRecord->text(), ">> export >>");
    dialogs().clear();
    commands.clear();
    form().cmdStartRecord->click();
    ASSERT_EQ(dialogs().messages.size(), 1u);
    EXPECT_EQ(dialogs().messages[0].caption, "No buffer");
    EXPECT_FALSE(exporter().exporting());
    EXPECT_TRUE(commands.empty());
}

// A recording input fed from another thread, as a sound card's is. Its stop waits until
// no frames are being handed over, as a real input's does.
class ThreadedInput : public capture::InputSystem {
public:
    std::unique_ptr<capture::InputStream> openInput(int, int channels,
                                                    capture::FrameSink& sink) override {
        if (channels != 2)
            return nullptr;
        return std::make_unique<Stream>(*this, sink);
    }
    // Input thread.
    void feed(const int16_t* frames, uint32_t count) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (running_ != nullptr)
            running_->write(frames, count);
    }
    bool running() {
        std::lock_guard<std::mutex> lock(mutex_);
        return running_ != nullptr;
    }

private:
    class Stream : public capture::InputStream {
    public:
        Stream(ThreadedInput& owner, capture::FrameSink& sink) : owner_(owner), sink_(sink) {}
        ~Stream() override { stop(); }
        bool start() override {
            std::lock_guard<std::mutex> lock(owner_.mutex_);
            owner_.running_ = &sink_;
            return true;
        }
        void stop() override {
            std::lock_guard<std::mutex> lock(owner_.mutex_);
            owner_.running_ = nullptr;
        }

    private:
        ThreadedInput& owner_;
        capture::FrameSink& sink_;
    };

    std::mutex mutex_;
    capture::FrameSink* running_ = nullptr;
};

// With the step clock on the output's frames, as with a real sound device, the take holds
// exactly its steps: it starts on the frame of its first step and ends on the frame of the
// step that ends it, although the recording starts and stops a look-ahead earlier. An audio
// thread renders in real time and the input hears each block `inputDelay` frames later, a
// delay that no latency the streams report accounts for.
void ExportTest::exportOnTheOutputsClock(int64_t inputDelay) {
    ThreadedInput threaded;
    build(&threaded);
    loadClick(0);
    form().SldBPM->setValue(240);
    audio::Engine& engine = form().session().soundDevice->engine();
    FrameClock clock;
    clock.rate = 44100;
    clock.now = [&engine] { return engine.framesRendered(); };
    // A long look-ahead (186 ms) so that a slow machine or a sanitizer's slowdown still runs
    // every step event before its frame; the stop's wait for the end covers it.
    clock.lookahead = 8192;
    form().timRec->setFrameClock(clock);

    std::atomic<bool> done{false};
    std::thread audioThread([&] {
        using Clock = std::chrono::steady_clock;
        // 128 frames at 44.1 kHz.
        const auto blockTime = std::chrono::microseconds(2902);
        auto next = Clock::now();
        std::vector<float> block(128 * 2);
        std::vector<int16_t> pcm(128 * 2);
        const std::vector<int16_t> delay(static_cast<size_t>(2 * inputDelay), 0);
        bool delayed = false;
        while (!done.load(std::memory_order_acquire)) {
            // Like a device that ran dry, a thread held up (the whole process stopped, a
            // loaded machine) goes on from now instead of rendering the missed time in one
            // burst, which would overtake step events that are just as held up.
            const auto now = Clock::now();
            if (now - next > 4 * blockTime)
                next = now;
            for (; next <= now; next += blockTime) {
                engine.process(block.data(), 128);
                for (size_t i = 0; i < block.size(); ++i)
                    pcm[i] = static_cast<int16_t>(std::lround(block[i] * 32767.0f));
                // The input's first frames are the delay's silence once it runs.
                if (!delayed && threaded.running()) {
                    threaded.feed(delay.data(), static_cast<uint32_t>(inputDelay));
                    delayed = true;
                }
                threaded.feed(pcm.data(), 128);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    dialogs().saveAnswers.push_back(target("exact"));
    form().cmdStartRecord->click();
    const bool ended = QTest::qWaitFor([this] { return !exporter().exporting(); }, 10000);
    done.store(true, std::memory_order_release);
    audioThread.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(engine.lateBatches(), 0u);

    // The first export after start-up: a silent step, then steps 1 to 32; the take runs from
    // the silent step's frame to the frame of the step that ends it.
    const int interval = form().timRec->interval();
    const auto frameOf = [interval](int event) {
        return StepOffsetFrames(event + 1, interval, 44100);
    };
    const test::WavRead take = test::readWav(target("exact.Wav"));
    ASSERT_TRUE(take.ok);
    EXPECT_EQ(take.info.frames, frameOf(33) - frameOf(0));
    std::vector<int64_t> clicks;
    for (int step : {1, 9, 17, 25}) clicks.push_back(frameOf(step) - frameOf(0));
    EXPECT_EQ(test::onsets(take.samples, 0, 0.5f, 500), clicks);
}

TEST_F(ExportTest, OnTheOutputsClockTheTakeHoldsExactlyItsSteps) {
    exportOnTheOutputsClock(0);
}

// The take is found in the recording by its sound, wherever the input's delay put it.
TEST_F(ExportTest, TheTakeStartsOnItsFirstStepWhateverTheInputsDelay) {
    exportOnTheOutputsClock(300);
}

// With the take folder unusable the take goes to a folder only this user can enter, never
// through a link another user planted where such a folder would be.
TEST_F(ExportTest, TheFallbackTakeFolderIsPrivateAndNeverALink) {
    const QDir tmp(fx->tempDir);
    ASSERT_TRUE(tmp.mkpath("theirs") && tmp.mkpath("run"));
    QFile::setPermissions(tmp.filePath("run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_TRUE(QFile::link(tmp.filePath("theirs"), tmp.filePath("run/zembrola-takes")));
    ASSERT_TRUE(QFile::link(tmp.filePath("theirs"), tmp.filePath("zembrola-takes")));
    QFile blocker(QDir(fx->dataDir).filePath("takes"));  // a file where the take folder goes
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    const QByteArray oldTmp = qgetenv("TMPDIR"), oldRun = qgetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(fx->tempDir));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(tmp.filePath("run")));
    loadClick(0);
    form().cmdStartRecord->click();
    runExport();
    qputenv("TMPDIR", oldTmp);
    qputenv("XDG_RUNTIME_DIR", oldRun);
    EXPECT_TRUE(test::readWav(exporter().takePath).ok);
    EXPECT_TRUE(QDir(tmp.filePath("theirs")).isEmpty());
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(QFileInfo(exporter().takePath).path()), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode) && (st.st_mode & 077) == 0);
}

}  // namespace
}  // namespace zb
