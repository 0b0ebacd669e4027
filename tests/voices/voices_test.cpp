// The voice slots on the real window: offscreen Qt, the offline audio engine, scripted
// dialogs, and WAV files generated into the fixture's temporary folders.
#include "shell/voices.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <functional>
#include <optional>

#include "audio/engine.h"
#include "audio/sound.h"
#include "shell/sequencer.h"
#include "support/form_fixture.h"
#include "support/wav_fixtures.h"
#include "voice_wav.h"
#include "voices/trace.h"

namespace zb {
namespace {

const QString kTooShortText =
    "This file isn't long enough to control effects.  Please choose a longer audio file.";

// One window with its engine, plus the file helpers the tests share.
class Rig {
public:
    test::FormFixture fx;
    Form1& form() { return fx.form(); }
    Voices& voices() { return fx.form().voicesCtl(); }

    Rig() { fx.dialogs.clear(); }

    QString file(const QString& name) const { return QDir(fx.tempDir).filePath(name); }

    // A sine WAV in the temporary folder (or in `folder` below it).
    QString sineWav(const QString& name, int rate = 44100, int channels = 1, int64_t frames = 4410,
                    const QString& folder = QString()) {
        QString dir = fx.tempDir;
        if (!folder.isEmpty()) {
            QDir(fx.tempDir).mkpath(folder);
            dir = QDir(fx.tempDir).filePath(folder);
        }
        const QString path = QDir(dir).filePath(name);
        EXPECT_TRUE(test::writeWav(QFile::encodeName(path).toStdString(),
                                   {rate, channels, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                                   test::sine(frames, 441.0, rate, channels)));
        return path;
    }

    // Presses the slot's load button with the dialog answering `path` (empty: cancel).
    void load(int slot, const QString& path, int filterIndex = 1) {
        if (!path.isEmpty())
            fx.dialogs.openAnswers.push_back({path, filterIndex});
        form().cmdSound[slot]->click();
    }

    // Whatever happened, a slot is either loaded or empty as a whole.
    void expectConsistent(int i) {
        const VoiceState& v = form().session().voices[i];
        const bool loaded = v.mainBuffer != nullptr;
        SCOPED_TRACE("slot " + std::to_string(i) + (loaded ? " loaded" : " empty"));
        EXPECT_EQ(v.subBuffer != nullptr, loaded);
        EXPECT_EQ(v.lowBuffer != nullptr, loaded);
        EXPECT_EQ(form().lblFile[i]->text().isEmpty(), !loaded);
        EXPECT_EQ(form().contFrame[i]->isHidden(), !loaded);
        EXPECT_EQ(form().waveform[i]->hasPicture(), loaded);
        for (QWidget* w : voiceControls(i))
            EXPECT_EQ(w->isEnabled(), loaded) << w->objectName().toStdString();
        if (loaded) {
            EXPECT_EQ(form().txtTone[i]->text().toInt(), form().SldFrequency[i]->value());
            EXPECT_EQ(v.mainBuffer->frequency(), form().SldFrequency[i]->value());
        }
    }

    std::vector<QWidget*> voiceControls(int i) {
        Form1& f = form();
        return {f.SldFrequency[i], f.txtTone[i], f.SldPan[i],  f.txtPan[i],  f.SldVolume[i],
                f.txtVolume[i],    f.cmbNote[i], f.cmbTone[i], f.cmbFreq[i], f.cmbSub[i],
                f.cmbSubF[i],      f.cmbLow[i],  f.cmdKill[i]};
    }

    std::vector<QPushButton*> mainButtons() {
        return {form().Command1, form().Command2, form().cmdPlay, form().cmdStartRecord};
    }
};

// ---- Loading ----

TEST(VoiceLoadTest, LoadDefaultsCaptionsTraceAndBuffers) {
    Rig rig;
    Form1& f = rig.form();
    // A first load with other settings, so the second one visibly resets them.
    const QString first = rig.sineWav("first.wav", 22050);
    rig.load(2, first);
    f.SldPan[2]->setValue(300);
    f.SldVolume[2]->setValue(-500);
    f.cmbNote[2]->setSelectedIndex(3);
    f.cmbLow[2]->setSelectedIndex(0);
    const auto oldSub = f.session().voices[2].subBuffer;

    const QString path = rig.sineWav("kick 44.wav", 44100, 2, 44100, "drum kit");
    rig.load(2, path);

    ASSERT_NE(f.session().voices[2].mainBuffer, nullptr);
    EXPECT_NE(f.session().voices[2].subBuffer, oldSub);
    const Selector* lists[] = {f.cmbNote[2], f.cmbFreq[2], f.cmbTone[2],
                               f.cmbSub[2],  f.cmbSubF[2], f.cmbLow[2]};
    const char* expected[] = {"Whole", "4", "Normal", "None", "4", "None"};
    const int expectedIndex[] = {0, 3, 0, 0, 3, 2};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(lists[k]->currentText(), expected[k]) << k;
        EXPECT_EQ(lists[k]->selectedIndex(), expectedIndex[k]) << k;
    }
    EXPECT_EQ(f.SldPan[2]->value(), 0);
    EXPECT_EQ(f.SldVolume[2]->value(), 0);
    EXPECT_EQ(f.SldFrequency[2]->value(), 44100);
    EXPECT_EQ(f.session().voices[2].baseFrequency, 44100);
    EXPECT_EQ(f.txtTone[2]->text(), "44100");
    EXPECT_EQ(f.txtPan[2]->text(), "0");
    EXPECT_EQ(f.txtVolume[2]->text(), "0");

    EXPECT_EQ(f.lblFile[2]->text(), "kick 44.wav");
    EXPECT_EQ(f.txtCaption[2]->text(), "kick 44.wav");
    EXPECT_EQ(f.contFrame[2]->title(), "kick 44.wav");
    EXPECT_EQ(f.waveform[2]->toolTip(), path);

    const VoiceState& v = f.session().voices[2];
    EXPECT_EQ(v.mainBuffer->frequency(), 44100);
    EXPECT_EQ(v.mainBuffer->pan(), 0);
    EXPECT_EQ(v.mainBuffer->volume(), 0);
    EXPECT_EQ(v.subBuffer->frequency(), 44100);
    EXPECT_EQ(v.subBuffer->volume(), -2000);
    EXPECT_EQ(v.lowBuffer->frequency(), 10000);
    EXPECT_EQ(v.mainBuffer->frames(), 44100);

    // The strip shows exactly the trace geometry, drawn in the trace colour.
    Waveform* strip = f.waveform[2];
    const auto g =
        voices::TracePoints(voices::ReadTraceValues(path), static_cast<float>(strip->scaleWidth()),
                            static_cast<float>(strip->scaleHeight()));
    EXPECT_EQ(strip->trace(), g.points);
    EXPECT_GT(g.scale, 0.0f);
    const QImage image = strip->grab().toImage();
    bool traceColour = false;
    for (int y = 0; y < image.height() && !traceColour; ++y)
        for (int x = 0; x < image.width() && !traceColour; ++x)
            traceColour = image.pixelColor(x, y) == QColor(203, 228, 199);
    EXPECT_TRUE(traceColour);

    for (QPushButton* b : rig.mainButtons()) EXPECT_TRUE(b->isEnabled());
    rig.expectConsistent(2);
    EXPECT_TRUE(rig.fx.dialogs.messages.empty());
}

TEST(VoiceLoadTest, DialogRequestAndRememberedFolder) {
    Rig rig;
    const QString snare =
        rig.sineWav("snare 2.wav", 44100, 1, 4410, QString::fromUtf8("loops/drum kit ä"));
    const QString hat = rig.sineWav("hat.wav");
    rig.load(0, snare, 2);
    rig.load(3, hat, 1);
    rig.load(1, QString());  // cancelled

    const auto& opens = rig.fx.dialogs.opens;
    ASSERT_EQ(opens.size(), 3u);
    const OpenFileRequest& r0 = opens[0].request;
    EXPECT_EQ(r0.flags, 0x1004);
    EXPECT_EQ(r0.filter, "Wave Files (*.wav)|*.wav");
    EXPECT_EQ(r0.filterIndex, 0);
    EXPECT_TRUE(r0.fileName.isEmpty());
    EXPECT_EQ(r0.initialDir, rig.fx.programDir + "/");
    // After a load from a folder, the next dialog, for any slot, opens there.
    EXPECT_EQ(opens[1].request.initialDir,
              QDir(rig.fx.tempDir).filePath(QString::fromUtf8("loops/drum kit ä")) + "/");
    EXPECT_EQ(opens[1].request.filterIndex, 2);
    EXPECT_EQ(opens[2].request.initialDir, rig.fx.tempDir + "/");
    EXPECT_EQ(opens[2].request.filterIndex, 1);

    EXPECT_EQ(rig.form().lblFile[0]->text(), "snare 2.wav");
    EXPECT_EQ(rig.form().lblFile[3]->text(), "hat.wav");
    for (int i = 0; i < 4; ++i) rig.expectConsistent(i);
}

TEST(VoiceLoadTest, CancelChangesNothing) {
    Rig rig;
    Form1& f = rig.form();
    const QString path = rig.sineWav("a.wav", 44100, 1, 4410, "one");
    rig.load(0, path, 1);
    const VoiceState before = f.session().voices[0];
    const QString dir = rig.voices().lastSampleDir;
    const auto points = f.waveform[0]->trace();

    rig.load(0, QString());
    rig.load(1, QString());

    EXPECT_EQ(rig.fx.dialogs.opens.size(), 3u);
    EXPECT_EQ(f.session().voices[0].mainBuffer, before.mainBuffer);
    EXPECT_EQ(f.session().voices[0].subBuffer, before.subBuffer);
    EXPECT_EQ(f.session().voices[0].lowBuffer, before.lowBuffer);
    EXPECT_EQ(rig.voices().lastSampleDir, dir);
    EXPECT_EQ(rig.voices().lastFilterIndex, 1);
    EXPECT_EQ(f.waveform[0]->toolTip(), path);
    EXPECT_EQ(f.waveform[0]->trace(), points);
    EXPECT_TRUE(f.waveform[1]->toolTip().isEmpty());
    rig.expectConsistent(0);
    rig.expectConsistent(1);
    EXPECT_FALSE(f.cmbNote[1]->isEnabled());
}

TEST(VoiceLoadTest, TooShortFileKeepsTheOldSlotAndSaysSo) {
    Rig rig;
    Form1& f = rig.form();
    const QString good = rig.sineWav("good.wav");
    rig.load(1, good);
    const VoiceState before = f.session().voices[1];
    f.SldVolume[1]->setValue(-700);

    // Another top-level window stands for the web page window: it closes once a file is
    // chosen, whether or not the load then succeeds.
    QWidget other;
    other.show();
    const QString shortFile =
        rig.sineWav("tiny.wav", 44100, 1, audio::kMinBufferFrames - 1, "elsewhere");
    rig.load(1, shortFile);

    ASSERT_EQ(rig.fx.dialogs.messages.size(), 1u);
    const test::MessageRecord& m = rig.fx.dialogs.messages[0];
    EXPECT_EQ(m.caption, "Couldn't load");
    EXPECT_EQ(m.text, kTooShortText);
    EXPECT_EQ(m.icon, MsgIcon::Error);
    EXPECT_FALSE(other.isVisible());

    EXPECT_EQ(f.session().voices[1].mainBuffer, before.mainBuffer);
    EXPECT_EQ(f.session().voices[1].subBuffer, before.subBuffer);
    EXPECT_EQ(f.session().voices[1].lowBuffer, before.lowBuffer);
    EXPECT_EQ(f.lblFile[1]->text(), "good.wav");
    EXPECT_EQ(f.SldVolume[1]->value(), -700);
    EXPECT_EQ(f.session().voices[1].mainBuffer->volume(), -700);
    // The tool tip and the remembered folder already point at the new file.
    EXPECT_EQ(f.waveform[1]->toolTip(), shortFile);
    EXPECT_EQ(rig.voices().lastSampleDir, QDir(rig.fx.tempDir).filePath("elsewhere") + "/");
    rig.expectConsistent(1);
}

TEST(VoiceLoadTest, LoadIntoPlayingSlotStopsOnlyTheMainBufferFirst) {
    Rig rig;
    Form1& f = rig.form();
    rig.load(0, rig.sineWav("long.wav", 44100, 1, 441000));
    const auto oldMain = f.session().voices[0].mainBuffer;
    const auto oldSub = f.session().voices[0].subBuffer;
    oldMain->Play(0);
    oldSub->Play(0);
    rig.fx.render(512);
    ASSERT_EQ(oldMain->GetStatus(), audio::kStatusPlaying);

    rig.load(0, rig.sineWav("next.wav", 22050));

    EXPECT_EQ(oldMain->GetStatus(), 0);
    EXPECT_EQ(oldSub->GetStatus(), audio::kStatusPlaying);
    EXPECT_NE(f.session().voices[0].mainBuffer, oldMain);
    EXPECT_NE(f.session().voices[0].subBuffer, oldSub);
    EXPECT_EQ(f.session().voices[0].baseFrequency, 22050);
    rig.expectConsistent(0);
}

TEST(VoiceLoadTest, WithoutSoundDeviceALoadFailsQuietly) {
    test::FormFixture fx({.mixerAvailable = false});
    ASSERT_EQ(fx.form().session().soundDevice, nullptr);
    fx.dialogs.clear();
    const QString path = QDir(fx.tempDir).filePath("k.wav");
    ASSERT_TRUE(test::writeWav(path.toStdString(), {}, test::sine(4410, 441, 44100, 1)));
    fx.dialogs.openAnswers.push_back({path, 1});
    fx.form().cmdSound[0]->click();
    EXPECT_TRUE(fx.dialogs.messages.empty());
    EXPECT_EQ(fx.form().session().voices[0].mainBuffer, nullptr);
    EXPECT_TRUE(fx.form().lblFile[0]->text().isEmpty());
    EXPECT_FALSE(fx.form().cmdPlay->isEnabled());
}

// ---- Bad input ----

enum class Outcome { Loads, TooShort, RefusedQuietly, BadRate };

struct BadInput {
    const char* what;
    // Makes the file (or folder) at the given path; returns false to skip the row.
    std::function<bool(const QString&)> make;
    Outcome outcome;
    bool audible = true;  // when it loads: whether playing it gives sound
};

std::string pcm16(int64_t frames, int16_t value = 8000) {
    std::string s;
    for (int64_t k = 0; k < frames; ++k) {
        s.push_back(static_cast<char>(value & 0xFF));
        s.push_back(static_cast<char>((value >> 8) & 0xFF));
    }
    return s;
}

bool writeSine(const QString& p, int rate, int channels, int64_t frames, int format) {
    return test::writeWav(QFile::encodeName(p).toStdString(), {rate, channels, format},
                          test::sine(frames, 441.0, rate, channels));
}

bool writeRaw(const QString& p, const std::string& bytes) {
    test::writeBytes(QFile::encodeName(p).toStdString(), bytes);
    return QFile::exists(p);
}

TEST(VoiceBadInputTest, EveryFileLoadsAndPlaysOrIsRefusedKeepingTheSlot) {
    const int pcm = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const int64_t minFrames = audio::kMinBufferFrames;
    const BadInput rows[] = {
        {"0 frames",
         [](const QString& p) { return writeRaw(p, voicetest::CanonicalWav(44100, 1, 16, "")); },
         Outcome::TooShort},
        {"1 frame",
         [](const QString& p) {
             return writeRaw(p, voicetest::CanonicalWav(44100, 1, 16, pcm16(1)));
         },
         Outcome::TooShort},
        {"one frame less than the minimum",
         [=](const QString& p) { return writeSine(p, 44100, 1, minFrames - 1, pcm); },
         Outcome::TooShort},
        {"exactly the minimum: no trace value, flat trace, still loads",
         [](const QString& p) {
             return writeRaw(p,
                             voicetest::CanonicalWav(44100, 1, 16, pcm16(audio::kMinBufferFrames)));
         },
         Outcome::Loads},
        {"one second of silence",
         [=](const QString& p) {
             return writeRaw(p, voicetest::CanonicalWav(44100, 2, 16, pcm16(88200, 0)));
         },
         Outcome::Loads, false},
        {"truncated data chunk",
         [](const QString& p) {
             return writeRaw(p, voicetest::CanonicalWav(44100, 1, 16, pcm16(3000), 88200, 88236));
         },
         Outcome::Loads},
        {"data size field larger than the file",
         [](const QString& p) {
             return writeRaw(
                 p, voicetest::CanonicalWav(22050, 1, 16, pcm16(6000), 0xFFFFFFF0u, 0xFFFFFFFFu));
         },
         Outcome::Loads},
        {"RIFF size field zero",
         [](const QString& p) {
             return writeRaw(p, voicetest::CanonicalWav(22050, 1, 16, pcm16(6000), 12000, 0));
         },
         Outcome::Loads},
        {"codec libsndfile cannot decode",
         [](const QString& p) {
             std::string b = voicetest::CanonicalWav(44100, 1, 16, pcm16(6000));
             b[20] = 0x34;  // format tag 0x1234
             b[21] = 0x12;
             return writeRaw(p, b);
         },
         Outcome::RefusedQuietly},
        {"text file named .wav",
         [](const QString& p) { return writeRaw(p, std::string(20000, 'x') + "\nhello\n"); },
         Outcome::RefusedQuietly},
        {"empty file", [](const QString& p) { return writeRaw(p, ""); }, Outcome::RefusedQuietly},
        {"a folder", [](const QString& p) { return QDir().mkpath(p); }, Outcome::RefusedQuietly},
        {"file that vanished", [](const QString&) { return true; }, Outcome::RefusedQuietly},
        {"unreadable file",
         [=](const QString& p) {
             if (::geteuid() == 0)
                 return false;  // root reads everything
             return writeSine(p, 44100, 1, 4410, pcm) &&
                    ::chmod(QFile::encodeName(p).constData(), 0) == 0;
         },
         Outcome::RefusedQuietly},
        {"rate below the tone range",
         [=](const QString& p) { return writeSine(p, 50, 1, 4410, pcm); }, Outcome::BadRate},
        {"rate above the tone range",
         [=](const QString& p) { return writeSine(p, 192000, 1, 44100, pcm); }, Outcome::BadRate},
        {"lowest rate in range", [=](const QString& p) { return writeSine(p, 100, 1, 4410, pcm); },
         Outcome::Loads},
        {"highest rate in range",
         [=](const QString& p) { return writeSine(p, 96000, 2, 9600, pcm); }, Outcome::Loads},
        {"8-bit unsigned",
         [](const QString& p) {
             return writeSine(p, 11025, 1, 4410, SF_FORMAT_WAV | SF_FORMAT_PCM_U8);
         },
         Outcome::Loads},
        {"24-bit",
         [](const QString& p) {
             return writeSine(p, 48000, 2, 4800, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
         },
         Outcome::Loads},
        {"32-bit float",
         [](const QString& p) {
             return writeSine(p, 44100, 2, 4410, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
         },
         Outcome::Loads},
        {"MS ADPCM",
         [](const QString& p) {
             return writeSine(p, 22050, 1, 22050, SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM);
         },
         Outcome::Loads},
        {"six channels", [](const QString& p) { return writeSine(p, 44100, 6, 4410, pcm); },
         Outcome::Loads},
    };

    for (const BadInput& row : rows) {
        SCOPED_TRACE(row.what);
        Rig rig;
        Form1& f = rig.form();
        rig.load(0, rig.sineWav("old.wav"));
        rig.fx.render(64);
        const VoiceState before = f.session().voices[0];
        const int liveBefore = f.session().soundDevice->engine().liveVoices();
        const QString path = rig.file(QString::fromUtf8("bad input ü/") + row.what + ".wav");
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!row.make(path))
            continue;

        rig.load(0, path);

        // Dropped buffers give their voices back once the engine has moved on.
        rig.fx.render(64);
        const auto& messages = rig.fx.dialogs.messages;
        if (row.outcome == Outcome::Loads) {
            EXPECT_TRUE(messages.empty());
            EXPECT_NE(f.session().voices[0].mainBuffer, before.mainBuffer);
            EXPECT_EQ(f.lblFile[0]->text(), QString(row.what) + ".wav");
            EXPECT_EQ(f.session().voices[0].baseFrequency,
                      f.session().voices[0].mainBuffer->frequency());
            // `before` still holds the old three.
            EXPECT_EQ(f.session().soundDevice->engine().liveVoices(), liveBefore + 3);
            // It plays.
            f.session().voices[0].mainBuffer->SetPlayPosition(0);
            f.session().voices[0].mainBuffer->Play(0);
            const std::vector<float> out = rig.fx.render(2048);
            float peak = 0;
            for (float s : out) peak = std::max(peak, std::abs(s));
            if (row.audible) {
                EXPECT_GT(peak, 0.01f);
            } else {
                EXPECT_EQ(peak, 0.0f);
            }
        } else {
            EXPECT_EQ(f.session().voices[0].mainBuffer, before.mainBuffer);
            EXPECT_EQ(f.session().voices[0].subBuffer, before.subBuffer);
            EXPECT_EQ(f.session().voices[0].lowBuffer, before.lowBuffer);
            EXPECT_EQ(f.lblFile[0]->text(), "old.wav");
            EXPECT_EQ(f.session().soundDevice->engine().liveVoices(), liveBefore);
            if (row.outcome == Outcome::RefusedQuietly) {
                EXPECT_TRUE(messages.empty());
            } else {
                ASSERT_EQ(messages.size(), 1u);
                EXPECT_EQ(messages[0].caption, "Couldn't load");
                EXPECT_EQ(messages[0].icon, MsgIcon::Error);
                if (row.outcome == Outcome::TooShort) {
                    EXPECT_EQ(messages[0].text, kTooShortText);
                } else {
                    EXPECT_TRUE(messages[0].text.contains("100 to 100000"))
                        << messages[0].text.toStdString();
                }
            }
        }
        rig.expectConsistent(0);
    }
}

// ---- Clearing ----

TEST(VoiceClearTest, ClearingWithAndWithoutOtherLoadedSlots) {
    const struct {
        std::vector<int> loaded;
        int cleared;
        bool mainButtonsStay;
    } cases[] = {
        {{0}, 0, false},   {{3}, 3, false},   {{0, 3}, 0, true},
        {{1, 2}, 2, true}, {{3, 0}, 3, true}, {{0, 1, 2, 3}, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("clearing slot " + std::to_string(c.cleared) + " of " +
                     std::to_string(c.loaded.size()));
        Rig rig;
        Form1& f = rig.form();
        for (int i : c.loaded) rig.load(i, rig.sineWav(QString("s%1.wav").arg(i)));
        const int i = c.cleared;
        auto main = f.session().voices[i].mainBuffer;
        main->Play(0);
        const int live = f.session().soundDevice->engine().liveVoices();
        main.reset();

        f.cmdKill[i]->click();

        EXPECT_EQ(f.session().soundDevice->engine().liveVoices(), live - 3);
        EXPECT_TRUE(f.lblFile[i]->text().isEmpty());
        EXPECT_TRUE(f.contFrame[i]->title().isEmpty());
        EXPECT_TRUE(f.contFrame[i]->isHidden());
        EXPECT_EQ(f.txtCaption[i]->text(), QString("s%1.wav").arg(i));  // hidden with the frame
        EXPECT_TRUE(f.waveform[i]->toolTip().isEmpty());
        EXPECT_FALSE(f.waveform[i]->hasPicture());
        EXPECT_TRUE(f.txtTone[i]->text().isEmpty());
        EXPECT_TRUE(f.txtPan[i]->text().isEmpty());
        EXPECT_TRUE(f.txtVolume[i]->text().isEmpty());
        for (Selector* s :
             {f.cmbNote[i], f.cmbTone[i], f.cmbFreq[i], f.cmbSub[i], f.cmbSubF[i], f.cmbLow[i]}) {
            EXPECT_EQ(s->selectedIndex(), -1);
            EXPECT_TRUE(s->currentText().isEmpty());
        }
        for (QPushButton* b : rig.mainButtons()) EXPECT_EQ(b->isEnabled(), c.mainButtonsStay);
        for (int k = 0; k < 4; ++k) rig.expectConsistent(k);
    }
}

TEST(VoiceClearTest, ClearingAnEmptySlotDoesNothing) {
    Rig rig;
    Form1& f = rig.form();
    rig.load(0, rig.sineWav("a.wav"));
    f.txtCaption[1]->setText("left over");
    rig.voices().cmdKill_Click(1);
    for (QPushButton* b : rig.mainButtons()) EXPECT_TRUE(b->isEnabled());
    EXPECT_EQ(f.txtCaption[1]->text(), "left over");
    rig.expectConsistent(0);
    rig.expectConsistent(1);
}

TEST(VoiceClearTest, LoadAndClearWhileTheSequencerRuns) {
    Rig rig;
    Form1& f = rig.form();
    rig.load(0, rig.sineWav("a.wav", 44100, 1, 44100));
    f.cmdPlay->click();
    ASSERT_TRUE(f.timBpm->isActive());
    for (int k = 0; k < 3; ++k) {
        f.sequencer().timBpm_Timer();
        rig.fx.render(256);
    }
    rig.load(1, rig.sineWav("b.wav", 22050, 1, 22050));
    rig.load(0, rig.sineWav("c.wav", 44100, 2, 44100));
    // Up to the step after step 9, which plays the main buffer of a slot on its load
    // defaults: the new one.
    for (int k = 0; k < 40 && f.session().currentStep != 10; ++k) {
        f.sequencer().timBpm_Timer();
        rig.fx.render(256);
    }
    ASSERT_EQ(f.session().currentStep, 10);
    EXPECT_EQ(f.session().voices[0].mainBuffer->GetStatus(), audio::kStatusPlaying);
    f.cmdKill[0]->click();
    for (int k = 0; k < 4; ++k) {
        f.sequencer().timBpm_Timer();
        rig.fx.render(256);
    }
    EXPECT_TRUE(f.timBpm->isActive());
    rig.expectConsistent(0);
    rig.expectConsistent(1);
}

// ---- Tone, pan and volume ----

enum class Box { Tone, Pan, Volume };
enum class Op { SelectAllThenType, Type, Replace };

struct Edit {
    Op op;
    QString text;
    int slider;  // the slider's value after the edit
};

struct TypedCase {
    const char* what;
    Box box;
    std::optional<int> preset;  // slider value set before typing
    std::vector<Edit> edits;
    QString finalText;
    int mainFrequency, mainPan, mainVolume;
    int subFrequency;
};

TEST(VoiceParameterTest, TypedValuesOnTheRealWindow) {
    // The slot holds a 22050 Hz file, so a typed tone is told apart from the buffers' rate.
    // clang-format off
    const TypedCase cases[] = {
        {"44100 typed digit by digit", Box::Tone, {},
         {{Op::SelectAllThenType, "4", 22050}, {Op::Type, "4", 22050}, {Op::Type, "1", 441},
          {Op::Type, "0", 4410}, {Op::Type, "0", 44100}},
         "44100", 22050, 0, 0, 22050},
        {"50 is below the range", Box::Tone, {},
         {{Op::SelectAllThenType, "5", 22050}, {Op::Type, "0", 22050}},
         "50", 22050, 0, 0, 22050},
        // Typed digit by digit, 100001 passes 10000 on its way; the last value in range
        // is the one that stays.
        {"100001 typed digit by digit", Box::Tone, {},
         {{Op::SelectAllThenType, "1", 22050}, {Op::Type, "0", 22050}, {Op::Type, "0", 100},
          {Op::Type, "0", 1000}, {Op::Type, "0", 10000}, {Op::Type, "1", 10000}},
         "100001", 22050, 0, 0, 22050},
        {"100001 in one edit leaves 100000", Box::Tone, 100000,
         {{Op::Replace, "100001", 100000}},
         "100001", 22050, 0, 0, 22050},
        {"pan 12000 in one edit", Box::Pan, {},
         {{Op::Replace, "12000", 0}},
         "12000", 22050, 0, 0, 22050},
        {"volume -2500 applies at once", Box::Volume, {},
         {{Op::Replace, "-2500", -2500}},
         "-2500", 22050, 0, -2500, 22050},
        {"5 typed into an empty volume box", Box::Volume, {},
         {{Op::Replace, "", 0}, {Op::Type, "5", 0}},
         "5", 22050, 0, 0, 22050},
        {"pan 250.6 rounds to 251 and applies", Box::Pan, 250,
         {{Op::Replace, "250.6", 251}},
         "251", 22050, 251, 0, 22050},
        {"pan 250.4 rounds to the same 250", Box::Pan, 250,
         {{Op::Replace, "250.4", 250}},
         "250.4", 22050, 250, 0, 22050},
        {"pan 100.5 goes to the even 100", Box::Pan, 7,
         {{Op::Replace, "100.5", 100}},
         "100", 22050, 100, 0, 22050},
        {"a lone minus sign while typing", Box::Pan, {},
         {{Op::SelectAllThenType, "-", 0}, {Op::Type, "3", -3}, {Op::Type, "0", -30}},
         "-30", 22050, -30, 0, 22050},
        {"letters", Box::Volume, -40,
         {{Op::Replace, "loud", -40}},
         "loud", 22050, 0, -40, 22050},
        {"exponent", Box::Pan, {},
         {{Op::Replace, "1.5e3", 1500}},
         "1500", 22050, 1500, 0, 22050},
        {"volume slider to -10000 silences the main buffer only", Box::Volume, -10000,
         {},
         "-10000", 22050, 0, -10000, 22050},
        {"tone slider moved: nothing until its click", Box::Tone, 30000,
         {},
         "22050", 22050, 0, 0, 22050},
    };
    // clang-format on
    for (const TypedCase& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        Form1& f = rig.form();
        rig.load(0, rig.sineWav("slow.wav", 22050, 1, 22050));
        QLineEdit* box = c.box == Box::Tone  ? f.txtTone[0]
                         : c.box == Box::Pan ? f.txtPan[0]
                                             : f.txtVolume[0];
        Slider* slider = c.box == Box::Tone  ? f.SldFrequency[0]
                         : c.box == Box::Pan ? f.SldPan[0]
                                             : f.SldVolume[0];
        if (c.preset)
            slider->setValue(*c.preset);
        for (const Edit& e : c.edits) {
            SCOPED_TRACE("edit \"" + e.text.toStdString() + "\"");
            switch (e.op) {
                case Op::SelectAllThenType:
                    box->selectAll();
                    QTest::keyClicks(box, e.text);
                    break;
                case Op::Type:
                    QTest::keyClicks(box, e.text);
                    break;
                case Op::Replace: {
                    QSignalSpy changes(box, &QLineEdit::textChanged);
                    box->selectAll();
                    box->insert(e.text);
                    EXPECT_GE(changes.count(), 1);
                    break;
                }
            }
            EXPECT_EQ(slider->value(), e.slider);
        }
        EXPECT_EQ(box->text(), c.finalText);
        const VoiceState& v = f.session().voices[0];
        EXPECT_EQ(v.mainBuffer->frequency(), c.mainFrequency);
        EXPECT_EQ(v.mainBuffer->pan(), c.mainPan);
        EXPECT_EQ(v.mainBuffer->volume(), c.mainVolume);
        EXPECT_EQ(v.subBuffer->frequency(), c.subFrequency);
        EXPECT_EQ(v.subBuffer->volume(), -2000);
        EXPECT_EQ(v.lowBuffer->frequency(), 10000);

        // The tone reaches the buffers at the next apply: a click on the tone slider.
        const int tone = f.SldFrequency[0]->value();
        QTest::mouseClick(f.SldFrequency[0], Qt::LeftButton);
        EXPECT_EQ(f.SldFrequency[0]->value(), tone) << "a click in the middle must not move it";
        EXPECT_EQ(v.mainBuffer->frequency(), tone);
        EXPECT_EQ(v.subBuffer->frequency(), tone);
        EXPECT_EQ(v.lowBuffer->frequency(), 10000);
        EXPECT_EQ(f.txtTone[0]->text(), QString::number(tone));
        EXPECT_EQ(f.txtPan[0]->text(), QString::number(f.SldPan[0]->value()));
        EXPECT_EQ(f.txtVolume[0]->text(), QString::number(f.SldVolume[0]->value()));
    }
}

TEST(VoiceParameterTest, ApplyOnAnEmptySlotOnlyWritesTheTexts) {
    Rig rig;
    Form1& f = rig.form();
    rig.load(0, rig.sineWav("a.wav"));
    test::pumpEvents();
    rig.fx.render(64);
    ASSERT_FALSE(f.session().soundDevice->engine().hasUncommitted());
    f.SldFrequency[2]->setValue(1234);
    f.SldPan[2]->setValue(-77);  // runs the apply
    EXPECT_EQ(f.txtTone[2]->text(), "1234");
    EXPECT_EQ(f.txtPan[2]->text(), "-77");
    EXPECT_EQ(f.txtVolume[2]->text(), QString::number(f.SldVolume[2]->value()));
    EXPECT_FALSE(f.session().soundDevice->engine().hasUncommitted());
}

}  // namespace
}  // namespace zb
