// Start-up on the three kinds of machine (sound works, no mixer, device fails), the close
// step without a take, and the two release routines.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QFile>
#include <QTimer>

#include "audio/engine.h"
#include "audio/sound.h"
#include "export/exporter.h"
#include "registry/fileass.h"
#include "support/form_fixture.h"
#include "support/wav_fixtures.h"

namespace zb {
namespace {

const QString kMixerText = "Couldn't open the mixer.";
const QString kDeviceText = "Could not initialize DirectSound.\r\nThis sample will exit.";

TEST(StartupTest, BuiltWindowBeforeTheLoadStep) {
    test::FormFixture fx({.runFormLoad = false});
    Form1& f = fx.form();
    EXPECT_EQ(f.timBpm->interval(), 100);
    EXPECT_EQ(f.timRec->interval(), 100);
    EXPECT_EQ(f.SldBPM->value(), 6);  // nothing set yet
    EXPECT_EQ(f.session().soundRoot, nullptr);
    EXPECT_EQ(f.session().soundDevice, nullptr);
    EXPECT_EQ(f.mixerHandle, 0);
    EXPECT_TRUE(fx.dialogs.messages.empty());
}

TEST(StartupTest, NormalStart) {
    test::FormFixture fx;
    Form1& f = fx.form();
    EXPECT_TRUE(fx.loadResult());
    EXPECT_FALSE(f.unloaded());
    EXPECT_TRUE(fx.dialogs.messages.empty());
    EXPECT_EQ(f.SldBPM->value(), 120);
    EXPECT_FALSE(f.cmdSave->isEnabled());
    EXPECT_FALSE(f.exporter().captureStarted);
    EXPECT_NE(f.mixerHandle, 0);
    EXPECT_NE(f.session().soundRoot, nullptr);
    ASSERT_NE(f.session().soundDevice, nullptr);
    EXPECT_NE(fx.driver(), nullptr);
    EXPECT_EQ(f.session().currentStep, 0);
    // Start-up registered the song document type.
    EXPECT_TRUE(QFile::exists(fileass::StorePathFor(fx.dataDir)));
    f.show();
    EXPECT_TRUE(f.isVisible());
}

TEST(StartupTest, MixerMissingLeavesAUsableWindowWithoutDevice) {
    bool tempoSetFirst = false;
    test::ScriptedDialogs* dialogs = nullptr;
    Form1* form = nullptr;
    // The message comes after the tempo and the Save As button have been dealt with.
    auto watch = [&](const test::MessageRecord&) {
        tempoSetFirst = form->SldBPM->value() == 120 && !form->cmdSave->isEnabled();
    };
    test::FormFixture fx({.mixerAvailable = false, .runFormLoad = false});
    dialogs = &fx.dialogs;
    form = &fx.form();
    dialogs->onMessage = watch;
    EXPECT_TRUE(form->Form_Load());

    ASSERT_EQ(fx.dialogs.messages.size(), 1u);
    const test::MessageRecord& m = fx.dialogs.messages[0];
    EXPECT_EQ(m.text, kMixerText);
    EXPECT_EQ(m.caption, "Zembrola");
    EXPECT_EQ(m.icon, MsgIcon::None);
    EXPECT_EQ(m.buttons, MsgButtons::Ok);
    EXPECT_TRUE(tempoSetFirst);

    EXPECT_EQ(form->mixerHandle, 0);
    EXPECT_EQ(form->session().soundRoot, nullptr);
    EXPECT_EQ(form->session().soundDevice, nullptr);
    EXPECT_EQ(fx.driver(), nullptr);
    EXPECT_FALSE(form->unloaded());
    form->show();
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->cmdSound[0]->isEnabled());
}

TEST(StartupTest, DeviceFailureEndsWithoutShowingTheWindow) {
    test::FormFixture fx({.outputFails = true, .runFormLoad = false});
    Form1& f = fx.form();
    bool unloadedDuringMessage = true;
    fx.dialogs.onMessage = [&](const test::MessageRecord&) {
        unloadedDuringMessage = f.unloaded();
    };

    EXPECT_FALSE(f.Form_Load());

    ASSERT_EQ(fx.dialogs.messages.size(), 1u);
    const test::MessageRecord& m = fx.dialogs.messages[0];
    EXPECT_EQ(m.text, kDeviceText);
    EXPECT_EQ(m.text.count('\n'), 1);
    EXPECT_EQ(m.caption, "Exiting...");
    EXPECT_EQ(m.icon, MsgIcon::Information);
    EXPECT_EQ(m.buttons, MsgButtons::Ok);
    EXPECT_FALSE(unloadedDuringMessage);

    EXPECT_TRUE(f.unloaded());
    EXPECT_FALSE(f.isVisible());
    EXPECT_NE(f.mixerHandle, 0);
    // What was made before the failure stays.
    EXPECT_NE(f.session().soundRoot, nullptr);
    EXPECT_EQ(f.session().soundDevice, nullptr);
}

// Three buffers from one file, as a loaded voice has them.
void fillVoice(test::FormFixture& fx, int i, const std::string& wav) {
    audio::BufferDesc desc;
    desc.flags = audio::kCtrlFrequency | audio::kCtrlPan | audio::kCtrlVolume;
    VoiceState& v = fx.form().session().voices[i];
    v.mainBuffer = fx.form().session().soundDevice->CreateBufferFromFile(wav, desc);
    v.subBuffer = fx.form().session().soundDevice->CreateBufferFromFile(wav, desc);
    v.lowBuffer = fx.form().session().soundDevice->CreateBufferFromFile(wav, desc);
    v.baseFrequency = desc.format.samplesPerSec;
}

TEST(StartupTest, OneEventsBufferCallsReachTheMixAsOneBatch) {
    test::FormFixture fx;
    ASSERT_NE(fx.form().session().soundDevice, nullptr);
    const std::string wav = fx.tempDir.toStdString() + "/tone.wav";
    ASSERT_TRUE(test::writeWav(wav, {}, test::sine(4410, 440.0, 44100, 1)));
    audio::Engine& engine = fx.form().session().soundDevice->engine();
    fx.render(64);
    const uint64_t before = engine.appliedBatches();

    // Everything below runs within one event: one batch.
    fillVoice(fx, 0, wav);
    VoiceState& v = fx.form().session().voices[0];
    v.mainBuffer->SetPlayPosition(0);
    v.mainBuffer->Play(0);
    v.subBuffer->SetFrequency(88200);
    v.subBuffer->Play(0);
    EXPECT_TRUE(engine.hasUncommitted());

    test::pumpEvents();  // the commit posted for this event runs
    EXPECT_FALSE(engine.hasUncommitted());
    const std::vector<float> out = fx.render(512);
    EXPECT_EQ(engine.appliedBatches(), before + 1);
    float peak = 0;
    for (float s : out) peak = std::max(peak, std::abs(s));
    EXPECT_GT(peak, 0.1f);
}

TEST(StartupTest, ReleaseAllBuffers) {
    struct Case {
        const char* what;
        bool loadVoice;
    };
    for (const Case c :
         {Case{"no voice loaded", false}, Case{"voice 2 loaded, main playing", true}}) {
        SCOPED_TRACE(c.what);
        test::FormFixture fx;
        Form1& f = fx.form();
        ASSERT_NE(f.session().soundDevice, nullptr);
        std::shared_ptr<audio::SoundBuffer> main, sub;
        if (c.loadVoice) {
            const std::string wav = fx.tempDir.toStdString() + "/hit.wav";
            ASSERT_TRUE(test::writeWav(wav, {}, test::sine(44100, 220.0, 44100, 1)));
            fillVoice(fx, 2, wav);
            main = f.session().voices[2].mainBuffer;
            sub = f.session().voices[2].subBuffer;
            main->Play(0);
            fx.render(256);
            ASSERT_EQ(main->GetStatus(), audio::kStatusPlaying);
            ASSERT_NE(sub->GetStatus(), audio::kStatusPlaying);
        }
        f.ReleaseAllBuffers();
        EXPECT_EQ(f.session().soundDevice, nullptr);
        EXPECT_EQ(f.session().soundRoot, nullptr);
        for (const VoiceState& v : f.session().voices) {
            EXPECT_EQ(v.mainBuffer, nullptr);
            EXPECT_EQ(v.subBuffer, nullptr);
            EXPECT_EQ(v.lowBuffer, nullptr);
        }
        if (c.loadVoice) {
            EXPECT_NE(main->GetStatus(), audio::kStatusPlaying);  // it was stopped
            EXPECT_EQ(main.use_count(), 1);
        }
        EXPECT_TRUE(fx.dialogs.messages.empty());
        EXPECT_FALSE(f.unloaded());
    }
}

TEST(StartupTest, CloseWithoutATakeClosesAtOnceAndReleasesNothing) {
    test::FormFixture fx;
    Form1& f = fx.form();
    f.show();
    EXPECT_TRUE(f.close());
    EXPECT_TRUE(f.unloaded());
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(fx.dialogs.requestCount(), 0u);
    EXPECT_NE(f.session().soundDevice, nullptr);
    EXPECT_NE(f.session().soundRoot, nullptr);
}

class CountingWindow : public QWidget {
public:
    int closes = 0;

protected:
    void closeEvent(QCloseEvent* event) override {
        ++closes;
        event->accept();
    }
};

TEST(StartupTest, UnloadOtherWindowsClosesEveryOtherWindowOnly) {
    test::FormFixture fx;
    Form1& f = fx.form();
    f.show();
    CountingWindow shown, hidden;
    shown.show();
    f.UnloadOtherWindows();
    EXPECT_EQ(shown.closes, 1);
    EXPECT_FALSE(shown.isVisible());
    EXPECT_EQ(hidden.closes, 1);  // loaded though never shown
    EXPECT_TRUE(f.isVisible());
    EXPECT_FALSE(f.unloaded());
}

TEST(StartupTest, AnotherOpenWindowKeepsTheProgramRunning) {
    test::FormFixture fx;
    Form1& f = fx.form();
    QWidget other;
    f.show();
    other.show();
    ASSERT_TRUE(QGuiApplication::quitOnLastWindowClosed());

    bool runningAfterMainClosed = false;
    QTimer::singleShot(0, &f, [&] {
        f.close();
        QTimer::singleShot(0, &other, [&] {
            runningAfterMainClosed = true;
            other.close();  // the last window: the event loop ends
        });
    });
    // Only a guard against hanging the test program; no duration is checked.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    guard.start(30000);
    const int code = QCoreApplication::exec();
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(runningAfterMainClosed);
    EXPECT_TRUE(f.unloaded());
}

}  // namespace
}  // namespace zb
