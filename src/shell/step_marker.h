// The loop's position on the window while it plays or exports: a marker across the four
// waveform strips at the step being heard, the strips of the voices sounding at it lit, and
// during an export the take's progress shaded. Each step is shown when the output reaches
// its frame, not when its event ran, so the picture keeps time with the sound. Once per beat
// the step and the sounding voices become the top strip's accessible description. Its timer
// wakes only when a waiting step is due (and once to take the marker away after a run), so
// an idle window has no timer running and a playing one a wake-up or two per step.
//
// Threads: UI thread only.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>

#include "core/loop_position.h"

namespace zb {

class Form1;

class StepMarker : public QObject {
    Q_OBJECT
public:
    explicit StepMarker(Form1& form);

    // A step's batch went to the output. `frame` is its output frame, or StepTimer::kNoFrame
    // when the step clock runs on the wall clock; `take`: the export played it.
    void stepPlayed(int16_t step, uint8_t voices, int64_t frame, bool take);
    // Playback stopped: what is still waiting is not shown and the marker goes.
    void clear();

private:
    void refresh();
    void show(const pos::StepMark& mark);
    int64_t heardFrame() const;
    // Milliseconds until the output reaches `frame`, seen from `heard`.
    int msUntil(int64_t frame, int64_t heard) const;
    bool clocksRunning() const;

    Form1& form_;
    QTimer timer_;
    pos::MarkQueue queue_;
    pos::StepMark shown_;
    QElapsedTimer shownFor_;
};

// What the top strip's description says at a beat: "Beat 2, step 9: voice 1, voice 3".
QString beatDescription(int step, uint8_t voices);

}  // namespace zb
