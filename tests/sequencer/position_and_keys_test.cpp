// Through the real window: the step marker and the lit strips follow the steps, Space plays
// and stops wherever the focus leaves it to the window, and the focus never falls onto an
// unrelated button.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "sequencer_fixture.h"
#include "shell/sequencer.h"

namespace zb::test {
namespace {

class PositionAndKeys : public ::testing::Test {
protected:
    void SetUp() override {
        const QString sample = writeRampWav(fx.tempDir, "ramp.wav", 44100, 4410);
        loadVoice(fx, 0, sample);  // "Whole", "4": steps 1, 9, 17, 25
        loadVoice(fx, 1, sample);
        setModes(form(), 1, {3, 3, 0, 0, 3, 2});  // every step
    }
    Form1& form() { return fx.form(); }
    void step() {
        form().sequencer().timBpm_Timer();
        fx.render(kStepFrames);
    }
    QString lit() {  // per strip: the step shown, and whether the voice sounds at it
        QString s;
        for (Waveform* w : form().waveform)
            s += QStringLiteral("%1%2 ").arg(w->stepMark()).arg(w->stepSounding() ? '*' : '-');
        return s.trimmed();
    }
    bool space(QWidget* target) {
        QTest::keyClick(target, Qt::Key_Space);
        return form().timBpm->isActive();
    }
    FormFixture fx;
};

TEST_F(PositionAndKeys, TheMarkerFollowsTheStepsAndLightsTheVoicesThatSound) {
    EXPECT_TRUE(form().waveform[0]->accessibleDescription().endsWith("/ramp.wav"));
    form().cmdPlay->click();
    step();  // the first run's silent step 0 shows nothing
    EXPECT_EQ(lit(), "0- 0- 0- 0-");
    step();
    EXPECT_EQ(lit(), "1* 1* 1- 1-");
    const QString beat1 = form().Frame1->accessibleDescription();
    EXPECT_EQ(beat1, "Beat 1, step 1: voice 1, voice 2");
    step();
    EXPECT_EQ(lit(), "2- 2* 2- 2-");
    EXPECT_EQ(form().Frame1->accessibleDescription(), beat1) << "told once a beat";
    for (int s = 3; s <= 9; ++s) step();
    EXPECT_EQ(form().Frame1->accessibleDescription(), "Beat 2, step 9: voice 1, voice 2");
    form().cmdStop->click();
    EXPECT_EQ(lit(), "0- 0- 0- 0-");
    EXPECT_TRUE(form().Frame1->accessibleDescription().isEmpty());
}

TEST_F(PositionAndKeys, SpacePlaysAndStopsWhereTheFocusLetsItThrough) {
    form().show();
    QApplication::setActiveWindow(&form());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form()));
    // No focus, or a control that does not take Space (the tempo slider).
    EXPECT_TRUE(space(&form()));
    form().SldBPM->setFocus();
    EXPECT_FALSE(space(form().SldBPM));
    // A text box takes Space while the user types in it.
    form().txtTone[0]->setFocus();
    EXPECT_FALSE(space(form().txtTone[0]));
    // A click on a button leaves no focus behind, also not on the text box.
    QTest::mouseClick(form().cmdPlay, Qt::LeftButton);
    EXPECT_EQ(form().focusWidget(), nullptr);
    EXPECT_FALSE(space(&form()));
    // A button reached with Tab takes Space itself; the focus then goes to the other one.
    form().cmdPlay->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(space(form().cmdPlay));
    EXPECT_TRUE(form().cmdStop->hasFocus());
    EXPECT_FALSE(space(QApplication::focusWidget()));
    EXPECT_TRUE(form().cmdPlay->hasFocus());
    // Space keeps the button's guards (disabled during an export, say).
    form().cmdPlay->clearFocus();
    form().cmdPlay->setEnabled(false);
    EXPECT_FALSE(space(&form()));
}

}  // namespace
}  // namespace zb::test
