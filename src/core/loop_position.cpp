#include "core/loop_position.h"

#include <algorithm>

namespace zb::pos {

int64_t heardFrame(int64_t rendered, int64_t sinceLastPeriod, int64_t latency) {
    return rendered + sinceLastPeriod - latency;
}

int beatOf(int step) {
    return (step - 1) / kStepsPerBeat + 1;
}

int positionInBeat(int step) {
    return (step - 1) % kStepsPerBeat + 1;
}

Span stepSpan(int step, int width) {
    step = std::clamp(step, 1, kSteps);
    return {(step - 1) * width / kSteps, step * width / kSteps};
}

void MarkQueue::push(const StepMark& mark) {
    marks_.push_back(mark);
    while (marks_.size() > kCapacity) marks_.pop_front();
}

std::optional<StepMark> MarkQueue::take(int64_t heard) {
    // A later mark may be due while an earlier one is not (a step clock that fell back to
    // the wall clock): the newest due mark wins and everything before it is past.
    auto due = marks_.end();
    for (auto it = marks_.begin(); it != marks_.end(); ++it)
        if (it->frame == kAtOnce || it->frame <= heard)
            due = it;
    if (due == marks_.end())
        return std::nullopt;
    const StepMark mark = *due;
    marks_.erase(marks_.begin(), due + 1);
    return mark;
}

}  // namespace zb::pos
