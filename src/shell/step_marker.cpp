#include "shell/step_marker.h"

#include <QStringList>
#include <limits>

#include "audio/audio_system.h"
#include "audio/engine.h"
#include "audio/sound.h"
#include "shell/form1.h"

namespace zb {

QString beatDescription(int step, uint8_t voices) {
    QStringList sounding;
    for (int v = 0; v < Form1::kVoices; ++v)
        if (voices & (1u << v))
            sounding << QStringLiteral("voice %1").arg(v + 1);
    return QStringLiteral("Beat %1, step %2: %3")
        .arg(pos::beatOf(step))
        .arg(step)
        .arg(sounding.isEmpty() ? QStringLiteral("silent") : sounding.join(QStringLiteral(", ")));
}

StepMarker::StepMarker(Form1& form) : form_(form) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kRefreshMs);
    connect(&timer_, &QTimer::timeout, this, &StepMarker::refresh);
}

void StepMarker::stepPlayed(int16_t step, uint8_t voices, int64_t frame, bool take) {
    if (step < 1 || step > pos::kSteps)
        return;
    queue_.push({frame < 0 ? pos::kAtOnce : frame, step, voices, take});
    // The timer runs only while there is something to show.
    if (!timer_.isActive())
        timer_.start();
    refresh();
}

void StepMarker::clear() {
    queue_.clear();
    timer_.stop();
    shown_ = {};
    for (Waveform* w : form_.waveform) w->setStepMark(0, false, false);
    form_.Frame1->setAccessibleDescription(QString());
}

bool StepMarker::clocksRunning() const {
    return form_.timBpm->isActive() || form_.timRec->isActive();
}

int64_t StepMarker::heardFrame() const {
    const auto& device = form_.session().soundDevice;
    if (!device)
        return std::numeric_limits<int64_t>::max();
    const audio::OutputDriver& driver = device->driver();
    return pos::heardFrame(device->engine().framesRendered(), driver.framesSinceLastPeriod(),
                           driver.latencyFrames());
}

void StepMarker::refresh() {
    if (const auto mark = queue_.take(heardFrame())) {
        show(*mark);
        return;
    }
    // The run has ended: the last step stays for one period, as long as it sounds.
    if (queue_.empty() && !clocksRunning() &&
        (shown_.step == 0 || shownFor_.elapsed() >= form_.timBpm->interval()))
        clear();
}

void StepMarker::show(const pos::StepMark& mark) {
    shown_ = mark;
    shownFor_.start();
    for (int v = 0; v < Form1::kVoices; ++v)
        form_.waveform[v]->setStepMark(mark.step, mark.voices & (1u << v), mark.take);
    // Assistive technology hears of the position once a beat, not at every step.
    if (pos::positionInBeat(mark.step) == 1)
        form_.Frame1->setAccessibleDescription(beatDescription(mark.step, mark.voices));
}

}  // namespace zb
