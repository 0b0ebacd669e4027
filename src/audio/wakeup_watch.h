// Gaps between a sound stream's wake-ups. When the thread that feeds an output stream comes
// back later than the sound queued ahead of it lasts, the device has run dry and played
// silence: every later note sounds that much late. Counting such gaps tells a drop-out in
// the stream from a fault in the step timing. The time of the last wake-up also tells how
// far the device has played since the last period was handed over.
//
// Threads: tick() on the stream's thread only (real-time safe: a vDSO clock read and
// relaxed atomics); the figures, sinceLastNs() and reset() from any thread.
#pragma once

#include <time.h>

#include <atomic>
#include <cstdint>

namespace zb::audio {

class WakeupWatch {
public:
    // The sound queued ahead of a wake-up, in nanoseconds; a longer gap counts as a drop-out.
    explicit WakeupWatch(int64_t budgetNs = 0) : budgetNs_(budgetNs) {}

    // Any thread.
    void setBudget(int64_t budgetNs) { budgetNs_.store(budgetNs, std::memory_order_relaxed); }

    // Stream thread, once per wake-up.
    void tick() noexcept {
        const int64_t now = nowNs();
        if (resetAsked_.exchange(false, std::memory_order_relaxed)) {
            longestNs_.store(0, std::memory_order_relaxed);
            last_ = 0;
        }
        if (last_ != 0) {
            const int64_t gap = now - last_;
            if (gap > longestNs_.load(std::memory_order_relaxed))
                longestNs_.store(gap, std::memory_order_relaxed);
            const int64_t budget = budgetNs_.load(std::memory_order_relaxed);
            if (budget > 0 && gap > budget)
                overBudget_.fetch_add(1, std::memory_order_relaxed);
        }
        last_ = now;
        lastNs_.store(now, std::memory_order_relaxed);
    }

    // Time since the last wake-up; 0 before the first.
    int64_t sinceLastNs() const {
        const int64_t last = lastNs_.load(std::memory_order_relaxed);
        return last == 0 ? 0 : nowNs() - last;
    }

    // Gaps longer than the budget since the stream started (compare two readings).
    uint64_t overBudget() const { return overBudget_.load(std::memory_order_relaxed); }
    // The longest gap since the last reset(), in milliseconds.
    double longestMs() const { return longestNs_.load(std::memory_order_relaxed) * 1e-6; }
    // Starts the longest gap afresh at the next wake-up.
    void reset() { resetAsked_.store(true, std::memory_order_relaxed); }

private:
    static int64_t nowNs() noexcept {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
    }

    std::atomic<int64_t> budgetNs_;
    std::atomic<int64_t> longestNs_{0};
    std::atomic<uint64_t> overBudget_{0};
    std::atomic<bool> resetAsked_{false};
    int64_t last_ = 0;                // the gap's start; a reset forgets it
    std::atomic<int64_t> lastNs_{0};  // the last wake-up, for other threads
};

}  // namespace zb::audio
