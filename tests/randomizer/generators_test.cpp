// The two random buttons through the real window: which voices draw, in which order, and
// that playback runs afterwards.
#include <gtest/gtest.h>

#include <QDir>
#include <deque>

#include "audio/sound.h"
#include "shell/randomizer.h"
#include "shell/sequencer.h"
#include "shell/voices.h"
#include "support/form_fixture.h"
#include "support/wav_fixtures.h"

namespace zb::test {
namespace {

// Hands out scripted values and remembers how many were taken.
class ScriptedSource : public rnd::RandomSource {
public:
    ScriptedSource(std::deque<float> values, int* taken)
        : values_(std::move(values)), taken_(taken) {}
    float next() override {
        ++*taken_;
        if (values_.empty())
            return 0.0f;
        const float r = values_.front();
        values_.pop_front();
        return r;
    }

private:
    std::deque<float> values_;
    int* taken_;
};

QString writeSample(const QString& dir) {
    const QString path = QDir(dir).filePath("hit.wav");
    EXPECT_TRUE(writeWav(path.toStdString(), WavLayout{44100, 1}, sine(4410, 440, 44100, 1)));
    return path;
}

void loadVoice(FormFixture& fx, int i, const QString& path) {
    fx.dialogs.openAnswers.push_back({path, 1});
    fx.form().cmdSound[i]->click();
    ASSERT_TRUE(fx.form().session().voices[i].mainBuffer) << "voice " << i << " did not load";
}

std::array<int, 6> selectors(Form1& f, int i) {
    return {f.cmbNote[i]->selectedIndex(), f.cmbTone[i]->selectedIndex(),
            f.cmbFreq[i]->selectedIndex(), f.cmbSub[i]->selectedIndex(),
            f.cmbSubF[i]->selectedIndex(), f.cmbLow[i]->selectedIndex()};
}

class Generators : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fx.loadResult());
        sample = writeSample(fx.tempDir);
    }
    Form1& form() { return fx.form(); }
    void script(std::deque<float> values) {
        form().randomizer().setSource(std::make_unique<ScriptedSource>(std::move(values), &taken));
    }

    FormFixture fx;
    QString sample;
    int taken = 0;
};

TEST_F(Generators, FirstDrawsSixForTheOnlyLoadedVoice) {
    loadVoice(fx, 2, sample);
    const auto before0 = selectors(form(), 0);
    script({0.80f, 0.05f, 0.30f, 0.55f, 0.05f, 0.70f});
    form().Command1->click();
    EXPECT_EQ(taken, 6);
    EXPECT_EQ(selectors(form(), 2), (std::array<int, 6>{3, 0, 1, 2, 0, 2}));
    EXPECT_EQ(selectors(form(), 0), before0);
    EXPECT_EQ(selectors(form(), 1), (std::array<int, 6>{-1, -1, -1, -1, -1, -1}));
    EXPECT_EQ(selectors(form(), 3), (std::array<int, 6>{-1, -1, -1, -1, -1, -1}));
}

TEST_F(Generators, SecondDrawsToneAndPanThenTheSelectors) {
    loadVoice(fx, 2, sample);
    // Tone 0.5 -> 50000, sign 0.75 -> 2, pan 0.25 -> -2499, then the six selectors.
    script({0.5f, 0.75f, 0.25f, 0.99f, 0.99f, 0.99f, 0.99f, 0.99f, 0.99f});
    form().Command2->click();
    EXPECT_EQ(taken, 9);
    EXPECT_EQ(form().SldFrequency[2]->value(), 50000);
    EXPECT_EQ(form().SldPan[2]->value(), -2499);
    EXPECT_EQ(selectors(form(), 2), (std::array<int, 6>{3, 4, 3, 3, 3, 2}));
}

TEST_F(Generators, EveryLoadedVoiceDrawsInVoiceOrder) {
    loadVoice(fx, 1, sample);
    loadVoice(fx, 3, sample);
    // Voice 1 gets all zeros, voice 3 all just-below-one.
    const float top = std::nextafter(1.0f, 0.0f);
    script({0, 0, 0, 0, 0, 0, top, top, top, top, top, top});
    form().Command1->click();
    EXPECT_EQ(taken, 12);
    EXPECT_EQ(selectors(form(), 1), (std::array<int, 6>{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(selectors(form(), 3), (std::array<int, 6>{3, 4, 3, 3, 3, 2}));
}

TEST_F(Generators, NoVoiceNoDrawsAndTheNoBufferMessage) {
    script({});
    form().Command1->setEnabled(true);
    form().Command1->click();
    EXPECT_EQ(taken, 0);
    ASSERT_EQ(fx.dialogs.messages.size(), 1u);
    EXPECT_EQ(fx.dialogs.messages[0].caption, "No buffer");
    EXPECT_FALSE(form().timBpm->isActive());
}

TEST_F(Generators, PlaybackRunsAfterEitherButtonFromStepOne) {
    loadVoice(fx, 0, sample);
    struct Row {
        bool runningBefore;
        bool second;
    };
    for (Row r : {Row{false, false}, Row{true, false}, Row{false, true}, Row{true, true}}) {
        if (r.runningBefore) {
            form().cmdPlay->click();
            for (int s = 0; s < 5; ++s) form().sequencer().timBpm_Timer();
            ASSERT_TRUE(form().timBpm->isActive());
        }
        (r.second ? form().Command2 : form().Command1)->click();
        EXPECT_TRUE(form().timBpm->isActive()) << r.runningBefore << r.second;
        EXPECT_EQ(form().session().currentStep, 1) << r.runningBefore << r.second;
        EXPECT_FALSE(form().cmdPlay->isEnabled());
        EXPECT_TRUE(form().cmdStop->isEnabled());
        form().cmdStop->click();
    }
    EXPECT_TRUE(fx.dialogs.messages.empty());
}

TEST_F(Generators, DrawnToneIsHeardEvenWhenThePanDoesNotChange) {
    loadVoice(fx, 0, sample);
    // Sign 1, pan draw 0 -> pan 1: set the slider to 1 beforehand so it raises no change.
    form().SldPan[0]->setValue(1);
    script({0.5f, 0.0f, 0.0f, 0, 0, 0, 0, 0, 0});
    form().Command2->click();
    EXPECT_EQ(form().SldFrequency[0]->value(), 50000);
    EXPECT_EQ(form().SldPan[0]->value(), 1);
    EXPECT_EQ(form().session().voices[0].mainBuffer->frequency(), 50000);
    EXPECT_EQ(form().session().voices[0].subBuffer->frequency(), 50000);
}

TEST_F(Generators, DrawnToneIsHeardThroughThePanChange) {
    loadVoice(fx, 0, sample);
    script({0.5f, 0.0f, 0.5f, 0, 0, 0, 0, 0, 0});
    form().Command2->click();
    EXPECT_EQ(form().SldPan[0]->value(), 5000);
    EXPECT_EQ(form().session().voices[0].mainBuffer->frequency(), 50000);
    EXPECT_EQ(form().session().voices[0].mainBuffer->pan(), 5000);
}

TEST_F(Generators, TwoFreshStartsDrawTheSamePatterns) {
    auto run = [&](FormFixture& f) {
        loadVoice(f, 0, sample);
        loadVoice(f, 3, sample);
        std::vector<int> seen;
        for (int click = 0; click < 3; ++click) {
            (click == 1 ? f.form().Command2 : f.form().Command1)->click();
            for (int i : {0, 3}) {
                for (int x : selectors(f.form(), i)) seen.push_back(x);
                seen.push_back(f.form().SldFrequency[i]->value());
                seen.push_back(f.form().SldPan[i]->value());
            }
        }
        return seen;
    };
    FormFixture a;
    FormFixture b;
    const auto first = run(a);
    const auto second = run(b);
    EXPECT_EQ(first, second);
    // The three clicks do not all give the same pattern: the draws go on from click to click.
    const size_t per = first.size() / 3;
    EXPECT_FALSE(std::equal(first.begin(), first.begin() + per, first.begin() + per) &&
                 std::equal(first.begin(), first.begin() + per, first.begin() + 2 * per));
}

}  // namespace
}  // namespace zb::test
