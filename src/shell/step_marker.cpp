#include "shell/step_marker.h"

#include <QStringList>
#include <algorithm>
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
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &StepMarker::refresh);
}

void StepMarker::stepPlayed(int16_t step, uint8_t voices, int64_t frame, bool take) {
    if (step < 1 || step > pos::kSteps)
        return;
    queue_.push({frame < 0 ? pos::kAtOnce : frame, step, voices, take});
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

int StepMarker::msUntil(int64_t frame, int64_t heard) const {
    const int rate = form_.timBpm->frameClock().rate;
    if (frame == pos::kAtOnce || frame <= heard || rate <= 0)
        return 0;
    // Rounded up, so the wake-up is not early by a fraction of a millisecond.
    return static_cast<int>(std::min<int64_t>(((frame - heard) * 1000 + rate - 1) / rate, 60000));
}

void StepMarker::refresh() {
    const int64_t heard = heardFrame();
    if (const auto mark = queue_.take(heard))
        show(*mark);
    if (!queue_.empty()) {
        timer_.start(std::max(1, msUntil(queue_.nextFrame(), heard)));
        return;
    }
    if (clocksRunning()) {
        timer_.stop();  // the next step's commit looks again
        return;
    }
    // The run has ended: the last step stays for one period, as long as it sounds.
    const int64_t left = shown_.step == 0 ? 0 : form_.timBpm->interval() - shownFor_.elapsed();
    if (left <= 0)
        clear();
    else
        timer_.start(static_cast<int>(left));
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
