#include "audio/realtime_threads.h"

#include <gtest/gtest.h>

namespace zb::audio {
namespace {

TEST(RealtimeKit, AsksWithinWhatTheServiceGrants) {
    // A stock RealtimeKit: priority up to 20, 200 ms of CPU time without sleeping.
    RealtimeKitRequest r = PlanRealtimeKitRequest({20, 200000});
    EXPECT_EQ(r.priority, kSoundThreadPriority);
    EXPECT_EQ(r.rtTimeUsec, 200000);
    // A stricter one: its own ceiling and its own limit.
    r = PlanRealtimeKitRequest({5, 50000});
    EXPECT_EQ(r.priority, 5);
    EXPECT_EQ(r.rtTimeUsec, 50000);
    // One that grants nothing is not asked.
    EXPECT_EQ(PlanRealtimeKitRequest({0, 200000}).priority, 0);
    EXPECT_EQ(PlanRealtimeKitRequest({20, 0}).priority, 0);
}

}  // namespace
}  // namespace zb::audio
