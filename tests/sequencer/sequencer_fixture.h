// Shared set-up of the sequencer tests: the real window on the offline engine, voices filled
// with a ramp sample whose slope in the rendered output tells the rate it plays at.
#pragma once

#include <QString>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "support/form_fixture.h"

namespace zb::test {

// Frames rendered per timer event; any length works since the events are driven by hand.
inline constexpr int64_t kStepFrames = 2000;

// Writes a mono ramp 0 .. 0.9 of `frames` frames at `rate` into `dir`; returns its path.
QString writeRampWav(const QString& dir, const QString& name, int rate, int frames);

// Loads the sample into voice i through its load button, as the user does: three buffers and
// the selectors' load defaults ("Whole", "4", "Normal", "None", "4", "None").
void loadVoice(FormFixture& fx, int i, const QString& path);

// The six selectors of voice i: note, freq, tone, sub, subF, low (-1 clears one).
void setModes(Form1& form, int i, std::array<int, 6> modes);

// What one rendered step sounded like on the left channel.
struct StepSound {
    bool audible = false;
    double rate = 0;  // estimated playback rate in Hz of a ramp that sounded alone
};

// Renders one step's frames and measures them. `rampFrames` is the ramp's length.
StepSound renderStep(FormFixture& fx, int rampFrames);

}  // namespace zb::test
