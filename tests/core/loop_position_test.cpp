// The position display's arithmetic: which step is heard at an output frame, and where a
// step lies in a strip.
#include "core/loop_position.h"

#include <gtest/gtest.h>

namespace zb::pos {
namespace {

TEST(LoopPosition, HeardFrameAndStepGeometry) {
    // 4096 handed over, 300 of the last period played, 2048 still in the device's queue.
    EXPECT_EQ(heardFrame(4096, 300, 2048), 2348);
    EXPECT_EQ(beatOf(9) * 10 + positionInBeat(9), 21);
    EXPECT_EQ(beatOf(32) * 10 + positionInBeat(32), 48);
    int right = 0;  // the 32 spans tile a strip whose width is no multiple of 32
    for (int s = 1; s <= kSteps; ++s) {
        EXPECT_EQ(stepSpan(s, 489).left, right) << s;
        right = stepSpan(s, 489).right;
    }
    EXPECT_EQ(right, 489);
}

TEST(LoopPosition, AStepIsShownWhenTheOutputReachesItsFrame) {
    MarkQueue queue;
    queue.push({1000, 1, 0b01, false});
    queue.push({2000, 2, 0b10, false});
    EXPECT_FALSE(queue.take(999)) << "committed ahead, not heard yet";
    EXPECT_EQ(queue.take(1000)->voices, 0b01);
    // A late look shows the newest heard step and drops the ones passed by.
    queue.push({3000, 3, 0, false});
    EXPECT_EQ(queue.take(3500)->step, 3);
    // A step without a known frame is heard at once; a waiting step before it is past.
    queue.push({9000, 4, 0, false});
    queue.push({kAtOnce, 5, 0, true});
    EXPECT_EQ(queue.take(0)->step, 5);
    EXPECT_TRUE(queue.empty());
}

}  // namespace
}  // namespace zb::pos
