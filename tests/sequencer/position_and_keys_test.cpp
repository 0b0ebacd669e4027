// Seeing and steering the loop through the real window: the step marker and the lit strips
// follow the steps, Space plays and stops wherever the focus leaves it to the window, and
// the keyboard focus never falls onto an unrelated button.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTest>

#include "sequencer_fixture.h"
#include "shell/sequencer.h"

namespace zb::test {
namespace {

class PositionAndKeys : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fx.loadResult());
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
    void space(QWidget* target) { QTest::keyClick(target, Qt::Key_Space); }
    bool playing() { return form().timBpm->isActive(); }

    FormFixture fx;
};

TEST_F(PositionAndKeys, TheMarkerFollowsTheStepsAndLightsTheVoicesThatSound) {
    EXPECT_EQ(form().waveform[0]->accessibleDescription(),
              form().session().voices[0].mainBuffer ? fx.tempDir + "/ramp.wav" : QString());
    form().cmdPlay->click();
    step();  // the first run's silent step 0 shows nothing
    EXPECT_EQ(form().waveform[0]->stepMark(), 0);
    step();
    for (Waveform* w : form().waveform) EXPECT_EQ(w->stepMark(), 1);
    EXPECT_TRUE(form().waveform[0]->stepSounding());
    EXPECT_TRUE(form().waveform[1]->stepSounding());
    EXPECT_FALSE(form().waveform[2]->stepSounding());
    const QString beat1 = form().Frame1->accessibleDescription();
    EXPECT_EQ(beat1, "Beat 1, step 1: voice 1, voice 2");
    step();
    EXPECT_EQ(form().waveform[3]->stepMark(), 2);
    EXPECT_FALSE(form().waveform[0]->stepSounding());
    EXPECT_TRUE(form().waveform[1]->stepSounding());
    EXPECT_EQ(form().Frame1->accessibleDescription(), beat1) << "told once a beat";
    for (int s = 3; s <= 9; ++s) step();
    EXPECT_EQ(form().Frame1->accessibleDescription(), "Beat 2, step 9: voice 1, voice 2");

    form().cmdStop->click();
    for (Waveform* w : form().waveform) EXPECT_EQ(w->stepMark(), 0);
    EXPECT_TRUE(form().Frame1->accessibleDescription().isEmpty());
}

TEST_F(PositionAndKeys, SpacePlaysAndStopsWhereTheFocusLetsItThrough) {
    form().show();
    QApplication::setActiveWindow(&form());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form()));

    // No focus, or a control that does not take Space (the tempo slider).
    space(&form());
    EXPECT_TRUE(playing());
    form().SldBPM->setFocus();
    space(form().SldBPM);
    EXPECT_FALSE(playing());

    // A text box takes Space while the user types in it.
    form().txtTone[0]->setFocus();
    space(form().txtTone[0]);
    EXPECT_FALSE(playing());

    // A click on a button leaves no focus behind, also not on the text box.
    QTest::mouseClick(form().cmdPlay, Qt::LeftButton);
    EXPECT_TRUE(playing());
    EXPECT_EQ(form().focusWidget(), nullptr);
    space(&form());
    EXPECT_FALSE(playing());

    // A button reached with Tab takes Space itself; the focus then goes to the other one.
    form().cmdPlay->setFocus(Qt::TabFocusReason);
    space(form().cmdPlay);
    EXPECT_TRUE(playing());
    EXPECT_TRUE(form().cmdStop->hasFocus());
    space(QApplication::focusWidget());
    EXPECT_FALSE(playing());
    EXPECT_TRUE(form().cmdPlay->hasFocus());

    // Space keeps the button's guards: no play during an export.
    form().cmdPlay->clearFocus();
    form().cmdPlay->setEnabled(false);
    space(&form());
    EXPECT_FALSE(playing());
}

}  // namespace
}  // namespace zb::test
