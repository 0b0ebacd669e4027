// The output thread's wake-up watch: a gap longer than the queued sound counts as a
// drop-out, the longest gap is kept until asked to start afresh.
#include "audio/wakeup_watch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace zb::audio {
namespace {

TEST(WakeupWatch, CountsGapsLongerThanTheQueuedSoundAndKeepsTheLongest) {
    WakeupWatch watch(1'000'000);  // 1 ms of queued sound
    watch.tick();                  // the first wake-up has no gap before it
    EXPECT_EQ(watch.overBudget(), 0u);
    EXPECT_EQ(watch.longestMs(), 0.0);

    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    watch.tick();
    EXPECT_EQ(watch.overBudget(), 1u);
    EXPECT_GE(watch.longestMs(), 5.0);

    // Reset clears the longest gap and forgets the last wake-up, so the sleep before the
    // next tick is not a gap; the count of drop-outs stays for comparing readings.
    watch.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    watch.tick();
    EXPECT_EQ(watch.longestMs(), 0.0);
    EXPECT_EQ(watch.overBudget(), 1u);

    // Without a budget nothing counts as a drop-out, but gaps are still measured.
    WakeupWatch unbudgeted;
    unbudgeted.tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    unbudgeted.tick();
    EXPECT_EQ(unbudgeted.overBudget(), 0u);
    EXPECT_GE(unbudgeted.longestMs(), 2.0);
}

}  // namespace
}  // namespace zb::audio
