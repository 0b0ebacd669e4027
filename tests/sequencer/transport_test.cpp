// Play, stop, loop, tempo and the step schedule, through the real window and the offline
// engine. Timer events are driven by calling the handler; nothing waits on the clock.
#include <gtest/gtest.h>

#include <set>

#include "audio/engine.h"
#include "audio/sound.h"
#include "core/step_rule.h"
#include "export/exporter.h"
#include "sequencer_fixture.h"
#include "shell/sequencer.h"

namespace zb::test {
namespace {

constexpr int kRamp = 4410;

class Transport : public ::testing::Test {
protected:
    void SetUp() override {
        sample = writeRampWav(fx.tempDir, "ramp.wav", 44100, kRamp);
        ASSERT_TRUE(fx.loadResult());
    }
    Form1& form() { return fx.form(); }
    Sequencer& seq() { return fx.form().sequencer(); }

    // Runs one timer event and renders what it started.
    StepSound tick() {
        seq().timBpm_Timer();
        return renderStep(fx, kRamp);
    }

    FormFixture fx;
    QString sample;
};

TEST_F(Transport, StartUpTempo) {
    EXPECT_EQ(form().txtBPM->text(), "120");
    EXPECT_EQ(form().timBpm->interval(), 62);
    EXPECT_EQ(form().timRec->interval(), 62);
    EXPECT_EQ(form().timBpm->timerType(), Qt::PreciseTimer);
    EXPECT_FALSE(form().timBpm->isActive());
    EXPECT_EQ(form().session().currentStep, 0);
}

TEST_F(Transport, SliderTempoSetsTextAndBothTimers) {
    struct Row {
        int tempo, ms;
    };
    for (Row r : {Row{6, 1250}, Row{8, 938}, Row{24, 312}, Row{60, 125}, Row{90, 83}, Row{120, 62},
                  Row{140, 54}, Row{200, 38}, Row{240, 31}}) {
        form().SldBPM->setValue(r.tempo);
        EXPECT_EQ(form().txtBPM->text(), QString::number(r.tempo));
        EXPECT_EQ(form().timBpm->interval(), r.ms) << r.tempo;
        EXPECT_EQ(form().timRec->interval(), r.ms) << r.tempo;
    }
}

TEST_F(Transport, TypedTempo) {
    struct Row {
        const char* typed;
        int tempo;
        const char* textAfter;
    };
    // Each row starts from tempo 120.
    for (Row r : {Row{"250", 120, "250"}, Row{"5", 120, "5"}, Row{"101.5", 102, "102"},
                  Row{"100.5", 100, "100"}, Row{"120.7", 121, "121"}, Row{"120.2", 120, "120.2"},
                  Row{"240", 240, "240"}, Row{"6", 6, "6"}, Row{"", 120, ""},
                  Row{"abc", 120, "abc"}, Row{"-", 120, "-"}}) {
        form().SldBPM->setValue(120);
        form().txtBPM->setText("120");
        form().txtBPM->setText(r.typed);
        EXPECT_EQ(form().SldBPM->value(), r.tempo) << r.typed;
        EXPECT_EQ(form().txtBPM->text(), r.textAfter) << r.typed;
        EXPECT_EQ(form().timBpm->interval(), zb::seq::stepIntervalMs(r.tempo)) << r.typed;
        EXPECT_EQ(form().timRec->interval(), form().timBpm->interval()) << r.typed;
    }
}

TEST_F(Transport, TypingDigitByDigitPassesThroughValuesInRange) {
    form().SldBPM->setValue(90);
    std::vector<int> seen;
    QObject::connect(form().SldBPM, &QSlider::valueChanged, [&](int v) { seen.push_back(v); });
    form().txtBPM->setText("");
    for (const char* t : {"1", "12", "120"}) form().txtBPM->setText(t);
    EXPECT_EQ(seen, (std::vector<int>{12, 120}));
    EXPECT_EQ(form().timBpm->interval(), 62);
}

TEST_F(Transport, PlayWithoutSampleShowsNoBuffer) {
    form().cmdPlay->setEnabled(true);
    form().cmdPlay->click();
    ASSERT_EQ(fx.dialogs.messages.size(), 1u);
    const auto& m = fx.dialogs.messages[0];
    EXPECT_EQ(m.text,
              "You must first load a wave file into a sound buffer before you can play it.");
    EXPECT_EQ(m.caption, "No buffer");
    EXPECT_EQ(m.icon, MsgIcon::Information);
    EXPECT_EQ(m.buttons, MsgButtons::Ok);
    EXPECT_FALSE(form().timBpm->isActive());
    EXPECT_TRUE(form().cmdPlay->isEnabled());
    EXPECT_FALSE(form().cmdStop->isEnabled());
    EXPECT_EQ(form().session().currentStep, 0);
}

TEST_F(Transport, ButtonStates) {
    loadVoice(fx, 0, sample);
    form().cmdPlay->click();
    EXPECT_TRUE(form().timBpm->isActive());
    EXPECT_FALSE(form().cmdPlay->isEnabled());
    EXPECT_TRUE(form().cmdStop->isEnabled());
    EXPECT_FALSE(form().cmdStartRecord->isEnabled());
    EXPECT_EQ(form().session().currentStep, 0);  // play leaves the step alone

    form().cmdStop->click();
    EXPECT_FALSE(form().timBpm->isActive());
    EXPECT_TRUE(form().cmdPlay->isEnabled());
    EXPECT_FALSE(form().cmdStop->isEnabled());
    EXPECT_TRUE(form().cmdStartRecord->isEnabled());
    EXPECT_EQ(form().session().currentStep, 1);
    EXPECT_TRUE(fx.dialogs.messages.empty());
}

TEST_F(Transport, WorkedSchedules) {
    struct Row {
        const char* name;
        std::array<int, 6> modes;
        std::set<int> steps;
        int oddRate, evenRate;
    };
    const std::vector<Row> rows = {
        {"load defaults", {0, 3, 0, 0, 3, 2}, {1, 9, 17, 25}, 44100, 44100},
        {"Quarter 2 +/-500", {2, 1, 2, 0, 3, 2}, {1, 3, 5, 7, 17, 19, 21, 23}, 44600, 44600},
        {"Whole 2", {0, 1, 0, 0, 3, 2}, {1, 17}, 44100, 44100},
        {"Eigth 4 +/-100", {3, 3, 1, 0, 3, 2}, {}, 44200, 44000},
        {"Eigth 4 +/-10000", {3, 3, 5, 0, 3, 2}, {}, 50000, 20000},
        {"Half 3 +/-1000", {1, 2, 3, 0, 3, 2}, {1, 5, 9, 13, 17, 21}, 45100, 45100},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FormFixture local;
        loadVoice(local, 0, sample);
        setModes(local.form(), 0, row.modes);
        std::set<int> want = row.steps;
        if (want.empty())
            for (int s = 1; s <= 32; ++s) want.insert(s);

        local.form().cmdPlay->click();
        local.form().sequencer().timBpm_Timer();
        EXPECT_FALSE(renderStep(local, kRamp).audible) << "the first event plays nothing";
        EXPECT_EQ(local.form().session().currentStep, 1);

        for (int s = 1; s <= 32; ++s) {
            local.form().sequencer().timBpm_Timer();
            const StepSound got = renderStep(local, kRamp);
            // Without loop, step 32's notes are stopped in the batch that starts them.
            const bool sounds = want.count(s) == 1 && s != 32;
            EXPECT_EQ(got.audible, sounds) << "step " << s;
            if (got.audible && sounds) {
                EXPECT_NEAR(got.rate, s % 2 ? row.oddRate : row.evenRate, 50) << "step " << s;
            }
        }
        // No loop: the run ended after step 32.
        EXPECT_FALSE(local.form().timBpm->isActive());
        EXPECT_EQ(local.form().session().currentStep, 1);
        EXPECT_TRUE(local.form().cmdPlay->isEnabled());
        EXPECT_FALSE(local.form().cmdStop->isEnabled());
        EXPECT_TRUE(local.form().cmdStartRecord->isEnabled());
    }
}

TEST_F(Transport, SubAndLowBuffersFollowTheirRules) {
    loadVoice(fx, 0, sample);
    // Main silent (no note), sub "High" in beat 1 only, low on "Low".
    setModes(form(), 0, {-1, 3, 0, 2, 0, 0});
    form().cmdPlay->click();
    seq().timBpm_Timer();  // the silent first event
    const VoiceState& v = form().session().voices[0];
    for (int s = 1; s <= 32; ++s) {
        seq().timBpm_Timer();
        fx.render(64);
        EXPECT_EQ(v.mainBuffer->GetStatus(), 0) << s;
        EXPECT_EQ(v.subBuffer->GetStatus(), s <= 8 ? audio::kStatusPlaying : 0) << s;
        const bool low = s == 1 || s == 9 || s == 17 || s == 25;
        EXPECT_EQ(v.lowBuffer->GetStatus(), low ? audio::kStatusPlaying : 0) << s;
        if (s <= 8) {
            EXPECT_EQ(v.subBuffer->frequency(), 50000);
        }
        if (low) {
            EXPECT_EQ(v.lowBuffer->frequency(), 20000);
        }
    }
}

TEST_F(Transport, LoopWrapsStraightToStepOne) {
    loadVoice(fx, 0, sample);
    form().ckLoop->setChecked(true);
    form().cmdPlay->click();
    seq().timBpm_Timer();
    for (int s = 1; s <= 32; ++s) tick();
    EXPECT_EQ(form().session().currentStep, 1);
    EXPECT_TRUE(form().timBpm->isActive());
    // The next event is step 1 itself, audible.
    EXPECT_TRUE(tick().audible);
    EXPECT_EQ(form().session().currentStep, 2);

    // The box is read only at the end of step 32: clearing it now lets this pass finish.
    form().ckLoop->setChecked(false);
    for (int s = 2; s <= 31; ++s) tick();
    EXPECT_TRUE(form().timBpm->isActive());
    tick();
    EXPECT_FALSE(form().timBpm->isActive());
}

TEST_F(Transport, NoLoopEndStopsTheLastStepAtOnce) {
    loadVoice(fx, 0, sample);
    setModes(form(), 0, {3, 3, 0, 0, 3, 2});  // plays on every step, 32 included
    form().cmdPlay->click();
    seq().timBpm_Timer();
    for (int s = 1; s <= 31; ++s) EXPECT_TRUE(tick().audible) << s;
    EXPECT_FALSE(tick().audible) << "step 32 is stopped in the same batch";
    EXPECT_EQ(form().session().voices[0].mainBuffer->GetStatus(), 0);
    EXPECT_EQ(form().session().currentStep, 1);

    // The next run starts at step 1 on its first event.
    form().cmdPlay->click();
    EXPECT_TRUE(tick().audible);
    EXPECT_EQ(form().session().currentStep, 2);
}

// With another window keeping the program alive, closing the main window ends the loop's
// steps (no control is left to stop it) but cuts nothing already sounding.
TEST_F(Transport, ClosingTheWindowEndsTheStepsButNotTheSound) {
    loadVoice(fx, 0, sample);
    setModes(form(), 0, {3, 3, 0, 0, 3, 2});
    form().ckLoop->setChecked(true);
    form().show();
    form().cmdPlay->click();
    seq().timBpm_Timer();
    tick();
    seq().timBpm_Timer();
    ASSERT_TRUE(form().close());
    EXPECT_FALSE(form().timBpm->isActive());
    EXPECT_FALSE(form().timRec->isActive());
    EXPECT_TRUE(renderStep(fx, kRamp).audible);  // step 2's note rings on
    EXPECT_EQ(form().session().voices[0].mainBuffer->GetStatus(), audio::kStatusPlaying);
}

TEST_F(Transport, StopSilencesAndRestartsAtStepOne) {
    loadVoice(fx, 0, sample);
    setModes(form(), 0, {3, 3, 0, 0, 3, 2});
    form().cmdPlay->click();
    seq().timBpm_Timer();
    for (int s = 1; s <= 5; ++s) tick();
    form().cmdStop->click();
    EXPECT_FALSE(renderStep(fx, kRamp).audible);
    EXPECT_EQ(form().session().currentStep, 1);
    form().cmdPlay->click();
    EXPECT_TRUE(tick().audible);
    EXPECT_EQ(form().session().currentStep, 2);
}

TEST_F(Transport, ChangesDuringARunApplyFromTheNextStep) {
    loadVoice(fx, 0, sample);
    form().cmdPlay->click();
    seq().timBpm_Timer();
    EXPECT_TRUE(tick().audible);   // step 1, "Whole"
    EXPECT_FALSE(tick().audible);  // step 2
    form().cmbNote[0]->setSelectedIndex(3);
    EXPECT_TRUE(tick().audible);  // step 3 now plays
    form().cmbNote[0]->setSelectedIndex(-1);
    EXPECT_FALSE(tick().audible);  // nothing selected: silent
    EXPECT_EQ(form().session().voices[0].noteMode, -1);

    // A voice cleared during the run is skipped from the next step on; one loaded joins.
    form().cmbNote[0]->setSelectedIndex(3);
    form().session().voices[0] = VoiceState{};
    EXPECT_FALSE(tick().audible);  // step 5
    loadVoice(fx, 2, sample);
    setModes(form(), 2, {3, 3, 0, 0, 3, 2});
    EXPECT_TRUE(tick().audible);  // step 6
    EXPECT_TRUE(form().timBpm->isActive());
}

TEST_F(Transport, TempoChangeWhileRunningKeepsTheRun) {
    loadVoice(fx, 0, sample);
    form().cmdPlay->click();
    seq().timBpm_Timer();
    for (int s = 1; s <= 4; ++s) tick();
    form().SldBPM->setValue(200);
    EXPECT_TRUE(form().timBpm->isActive());
    EXPECT_EQ(form().timBpm->interval(), 38);
    EXPECT_EQ(form().session().currentStep, 5);
    // Play while running changes nothing.
    form().cmdPlay->setEnabled(true);
    form().cmdPlay->click();
    EXPECT_EQ(form().session().currentStep, 5);
    EXPECT_TRUE(form().timBpm->isActive());
}

TEST_F(Transport, RefusedRateSkipsOnlyThatNote) {
    // A 4000 Hz sample with "+/- 5000": the even steps ask for -1000 Hz, which the device
    // refuses. Voice 1 plays every step alongside.
    const QString low = writeRampWav(fx.tempDir, "low.wav", 4000, 4000);
    loadVoice(fx, 0, low);
    setModes(form(), 0, {3, 3, 4, 0, 3, 2});
    loadVoice(fx, 1, sample);
    setModes(form(), 1, {3, 3, 0, 0, 3, 2});
    form().SldBPM->setValue(240);
    form().cmdPlay->click();
    seq().timBpm_Timer();
    for (int s = 1; s <= 32; ++s) {
        seq().timBpm_Timer();
        fx.render(64);
        EXPECT_EQ(form().session().currentStep, s == 32 ? 1 : s + 1);
        if (s == 32)
            break;  // stopped at once by the end of the run
        const auto& v0 = form().session().voices[0];
        const auto& v1 = form().session().voices[1];
        EXPECT_EQ(v1.mainBuffer->GetStatus(), audio::kStatusPlaying) << s;
        if (s % 2) {
            EXPECT_EQ(v0.mainBuffer->GetStatus(), audio::kStatusPlaying) << s;
            EXPECT_EQ(v0.mainBuffer->frequency(), 9000) << s;
        } else {
            EXPECT_EQ(v0.mainBuffer->GetStatus(), 0) << s;
        }
    }
    EXPECT_TRUE(fx.dialogs.messages.empty());
    EXPECT_FALSE(form().timBpm->isActive());
}

TEST_F(Transport, EachStepReachesTheOutputAsOneBatch) {
    loadVoice(fx, 0, sample);
    loadVoice(fx, 1, sample);
    setModes(form(), 0, {3, 3, 1, 1, 3, 0});
    setModes(form(), 1, {3, 3, 5, 2, 3, 1});
    form().cmdPlay->click();
    seq().timBpm_Timer();
    fx.render(256);
    auto& engine = form().session().soundDevice->engine();
    for (int s = 1; s <= 8; ++s) {
        const uint64_t before = engine.appliedBatches();
        seq().timBpm_Timer();
        EXPECT_FALSE(engine.hasUncommitted()) << s;
        fx.render(256);
        EXPECT_EQ(engine.appliedBatches() - before, 1u) << s;
    }
}

TEST_F(Transport, PlayIsRefusedWhileAnExportRuns) {
    loadVoice(fx, 0, sample);
    form().exporter().cmdStartRecord_Click();
    ASSERT_TRUE(form().exporter().exporting());
    form().cmdPlay->setEnabled(true);  // as a load during the export would have done
    form().cmdPlay->click();
    EXPECT_FALSE(form().timBpm->isActive());
    form().timRec->stop();
}

}  // namespace
}  // namespace zb::test
