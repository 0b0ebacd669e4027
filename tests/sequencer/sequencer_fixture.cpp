#include "sequencer_fixture.h"

#include <gtest/gtest.h>

#include <QDir>
#include <cmath>

#include "support/wav_fixtures.h"

namespace zb::test {

QString writeRampWav(const QString& dir, const QString& name, int rate, int frames) {
    std::vector<float> ramp(static_cast<size_t>(frames));
    for (int k = 0; k < frames; ++k) ramp[k] = 0.9f * static_cast<float>(k) / frames;
    const QString path = QDir(dir).filePath(name);
    EXPECT_TRUE(writeWav(path.toStdString(), WavLayout{rate, 1}, ramp));
    return path;
}

void loadVoice(FormFixture& fx, int i, const QString& path) {
    fx.dialogs.openAnswers.push_back({path, 1});
    fx.form().cmdSound[i]->click();
    ASSERT_TRUE(fx.form().session().voices[i].mainBuffer) << "voice " << i << " did not load";
}

void setModes(Form1& form, int i, std::array<int, 6> m) {
    form.cmbNote[i]->setSelectedIndex(m[0]);
    form.cmbFreq[i]->setSelectedIndex(m[1]);
    form.cmbTone[i]->setSelectedIndex(m[2]);
    form.cmbSub[i]->setSelectedIndex(m[3]);
    form.cmbSubF[i]->setSelectedIndex(m[4]);
    form.cmbLow[i]->setSelectedIndex(m[5]);
}

StepSound renderStep(FormFixture& fx, int rampFrames) {
    const std::vector<float> out = fx.render(kStepFrames);
    StepSound s;
    // The first frames may hold the short fade of the note the step cut off.
    for (int64_t k = 100; k < kStepFrames; ++k)
        if (std::fabs(out[k * 2]) > 1e-3f)
            s.audible = true;
    // The ramp rises 0.9 / rampFrames per sample frame; the output rises by that times the
    // sample frames consumed per output frame.
    const int64_t a = 200, b = 1800;
    const double slope = (out[b * 2] - out[a * 2]) / static_cast<double>(b - a);
    s.rate = slope * rampFrames / 0.9 * fx.driver()->sampleRate();
    return s;
}

}  // namespace zb::test
