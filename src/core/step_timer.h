// The step clock behind timBpm and timRec. It has the interface of a periodic QTimer
// (interval, start, stop, isActive, timeout). Without a frame clock it is a precise
// QTimer. With one (a real sound device), it is slaved to the output: the k-th event of a
// run belongs on output frame anchor + k x interval, fires a constant look-ahead before
// the output reaches that frame, and tells its handler the frame, so the step's batch of
// buffer operations starts exactly on the grid however late the event itself runs.
//
// Threads: UI thread only. The frame clock's now() must be safe to call from it.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>

namespace zb {

struct FrameClock {
    std::function<int64_t()> now;  // output frames rendered so far
    int rate = 44100;              // output frames per second
    int64_t lookahead = 1024;      // frames between an event and its step's frame
    std::function<void()> wake;    // starts a resting output, so that now() moves again
};

// An output whose queue may grow while the timer runs: deepen lets it queue up to the given
// frames more (it returns how many it took, by which the frame clock runs ahead at once),
// shallow takes it back to its usual depth when the timer stops.
struct QueueGrowth {
    std::function<int64_t(int64_t)> deepen;
    std::function<void()> shallow;
    int64_t margin = 0;  // frames an event may come late and still have its whole look-ahead
};

// How many frames the output may run ahead by at once, between two events, without making
// the next one late: what is left before that event is due, less a margin for its own
// delay.
int64_t StepRoomFrames(int64_t nextDue, int64_t now, int64_t marginFrames);

// How far ahead of its step's frame an event fires, for an output that renders up to
// `chunkFrames` at once: the step's batch must be in before the chunk that holds its frame
// is rendered, with room for a UI thread held up behind busy programs.
int64_t StepLookaheadFrames(int64_t chunkFrames, int rate);

// Pure grid arithmetic: the offset in frames of the k-th step after the anchor.
int64_t StepOffsetFrames(int64_t k, int intervalMs, int rate);

class StepTimer : public QObject {
    Q_OBJECT
public:
    static constexpr int64_t kNoFrame = -1;

    explicit StepTimer(QObject* parent = nullptr);

    void setInterval(int ms);
    int interval() const { return interval_; }
    void setTimerType(Qt::TimerType type) { timer_.setTimerType(type); }
    Qt::TimerType timerType() const { return timer_.timerType(); }
    bool isActive() const { return active_; }
    void start();
    void stop();

    // Slaves the timer to an output frame clock; an empty clock (no now) goes back to the
    // wall clock.
    void setFrameClock(FrameClock clock);
    bool slaved() const { return static_cast<bool>(clock_.now); }
    // With a frame clock, lets the output's queue grow between events (none by default).
    void setQueueGrowth(QueueGrowth growth) { growth_ = std::move(growth); }
    const FrameClock& frameClock() const { return clock_; }

    // During a timeout handler: the output frame of this event's step, or kNoFrame when the
    // timer runs on the wall clock.
    int64_t stepFrame() const { return current_; }

signals:
    void timeout();

private:
    void arm();
    void fire();

    QTimer timer_;
    QElapsedTimer armed_;  // wall time since the event was armed
    int interval_ = 100;
    bool active_ = false;
    FrameClock clock_;
    QueueGrowth growth_;
    int64_t anchor_ = 0;  // frame of step 0 of the current tempo run
    int64_t k_ = 0;       // steps fired since the anchor
    int64_t current_ = kNoFrame;
    int64_t aheadBy_ = 0;  // frames the output was just let run ahead by, until the next event
};

}  // namespace zb
