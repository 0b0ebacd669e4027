// Where the loop is, as the listener hears it: the step geometry used to draw the position,
// and the queue of steps committed ahead of their sound, released when the output reaches
// each step's frame.
//
// Threads: UI thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

namespace zb::pos {

inline constexpr int kSteps = 32;
inline constexpr int kStepsPerBeat = 8;
// A step whose output frame is not known (the step clock runs on the wall clock) is heard
// as soon as it is committed.
inline constexpr int64_t kAtOnce = -1;

// The output frame leaving the device now: the engine hands over `rendered` frames a period
// at a time, the device has played `sinceLastPeriod` of them since the last hand-over, and
// a frame takes `latency` frames from the engine to the device's output.
int64_t heardFrame(int64_t rendered, int64_t sinceLastPeriod, int64_t latency);

// Beat 1-4 and position 1-8 in the beat of a step 1-32.
int beatOf(int step);
int positionInBeat(int step);

// The horizontal span [left, right) of a step 1-32 in a strip `width` pixels wide; the 32
// spans tile the strip.
struct Span {
    int left = 0;
    int right = 0;
};
Span stepSpan(int step, int width);

// One step as it went to the output.
struct StepMark {
    int64_t frame = kAtOnce;  // its output frame
    int16_t step = 0;         // 1-32
    uint8_t voices = 0;       // bit v: voice v started a buffer at this step
    bool take = false;        // played by the export
};

class MarkQueue {
public:
    // Marks come in step order; the oldest go when more than kCapacity wait.
    void push(const StepMark& mark);
    // The newest mark heard by `heard` (marks at kAtOnce always are); it and every mark
    // before it leave the queue. Nothing when no waiting mark is heard yet.
    std::optional<StepMark> take(int64_t heard);
    bool empty() const { return marks_.empty(); }
    // The frame of the oldest waiting mark; only when not empty.
    int64_t nextFrame() const { return marks_.front().frame; }
    void clear() { marks_.clear(); }

    static constexpr size_t kCapacity = 64;

private:
    std::deque<StepMark> marks_;
};

}  // namespace zb::pos
