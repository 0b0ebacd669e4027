#include "core/step_timer.h"

#include <algorithm>
#include <cmath>

namespace zb {

int64_t StepLookaheadFrames(int64_t chunkFrames, int rate) {
    // 20 ms beyond the chunk: load delays a timer event by a few milliseconds, rarely more.
    return std::max<int64_t>(chunkFrames, 0) + rate / 50;
}

int64_t StepRoomFrames(int64_t nextDue, int64_t now, int64_t marginFrames) {
    return std::max<int64_t>(0, nextDue - now - std::max<int64_t>(marginFrames, 0));
}

int64_t StepOffsetFrames(int64_t k, int intervalMs, int rate) {
    // Exact integer arithmetic: k steps of intervalMs at `rate`, rounded to the nearest frame.
    const int64_t num = k * intervalMs * static_cast<int64_t>(rate);
    return (num + 500) / 1000;
}

StepTimer::StepTimer(QObject* parent) : QObject(parent) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setSingleShot(false);
    connect(&timer_, &QTimer::timeout, this, &StepTimer::fire);
}

void StepTimer::setInterval(int ms) {
    if (ms == interval_)
        return;
    if (active_ && slaved()) {
        // A new tempo starts its grid at the step that played last, so the loop goes on
        // without a jump.
        anchor_ += StepOffsetFrames(k_, interval_, clock_.rate);
        k_ = 0;
    }
    interval_ = ms;
    if (active_)
        arm();
}

void StepTimer::start() {
    active_ = true;
    k_ = 0;
    if (slaved()) {
        if (clock_.wake)
            clock_.wake();
        anchor_ = clock_.now() + clock_.lookahead;
    }
    arm();
}

void StepTimer::stop() {
    const bool was = active_;
    active_ = false;
    timer_.stop();
    if (was && slaved() && growth_.shallow)
        growth_.shallow();
}

void StepTimer::setFrameClock(FrameClock clock) {
    clock_ = std::move(clock);
    if (active_)
        start();
}

void StepTimer::arm() {
    if (!slaved()) {
        timer_.setSingleShot(false);
        timer_.start(interval_);
        return;
    }
    // Due when the output reaches the next step's frame less the look-ahead.
    const int64_t due =
        anchor_ + StepOffsetFrames(k_ + 1, interval_, clock_.rate) - clock_.lookahead;
    // An output just let run ahead reaches the due frame that much sooner.
    const int64_t waitFrames = std::max<int64_t>(0, due - clock_.now() - aheadBy_);
    armed_.start();
    timer_.setSingleShot(true);
    timer_.start(static_cast<int>(waitFrames * 1000 / clock_.rate));
}

void StepTimer::fire() {
    if (!active_)
        return;
    if (slaved()) {
        // The output runs in blocks, so the event may come a little early: wait for the rest.
        const int64_t frame = anchor_ + StepOffsetFrames(k_ + 1, interval_, clock_.rate);
        const int64_t early = frame - clock_.lookahead - clock_.now();
        // An output that stopped moving (the sound server went away) must not stop the
        // steps: after two periods of waiting the event goes ahead on the wall clock.
        const bool stalled = armed_.elapsed() > 2 * interval_;
        if (early * 1000 / clock_.rate >= 1 && !stalled) {
            timer_.start(static_cast<int>(early * 1000 / clock_.rate));
            return;
        }
        ++k_;
        current_ = frame;
    }
    aheadBy_ = 0;
    emit timeout();
    current_ = kNoFrame;
    if (!active_ || !slaved())
        return;
    if (growth_.deepen) {
        // The step is queued: the output may grow its queue into the time left before the
        // next event, and the next event comes as much sooner.
        const int64_t nextDue =
            anchor_ + StepOffsetFrames(k_ + 1, interval_, clock_.rate) - clock_.lookahead;
        aheadBy_ = growth_.deepen(StepRoomFrames(nextDue, clock_.now(), growth_.margin));
    }
    arm();
}

}  // namespace zb
