// The position display's arithmetic: which step is heard at an output frame, and where a
// step lies in a strip.
#include "core/loop_position.h"

#include <gtest/gtest.h>

namespace zb::pos {
namespace {

TEST(LoopPosition, HeardFrameAndStepGeometry) {
    // 4096 handed over, 300 of the last period played, 2048 in the device's queue.
    EXPECT_EQ(heardFrame(4096, 300, 2048), 2348);
    EXPECT_EQ(beatOf(1), 1);
    EXPECT_EQ(beatOf(8), 1);
    EXPECT_EQ(beatOf(9), 2);
    EXPECT_EQ(beatOf(32), 4);
    EXPECT_EQ(positionInBeat(9), 1);
    EXPECT_EQ(positionInBeat(16), 8);
    // The 32 spans tile a strip whose width is no multiple of 32.
    int right = 0;
    for (int s = 1; s <= kSteps; ++s) {
        const Span span = stepSpan(s, 489);
        EXPECT_EQ(span.left, right) << s;
        EXPECT_GT(span.right, span.left) << s;
        right = span.right;
    }
    EXPECT_EQ(right, 489);
}

TEST(LoopPosition, AStepIsShownWhenTheOutputReachesItsFrame) {
    MarkQueue queue;
    queue.push({1000, 1, 0b0001, false});
    queue.push({2000, 2, 0b0010, false});
    EXPECT_FALSE(queue.take(999)) << "committed ahead, not yet heard";
    auto mark = queue.take(1000);
    ASSERT_TRUE(mark);
    EXPECT_EQ(mark->step, 1);
    EXPECT_EQ(mark->voices, 0b0001);
    EXPECT_FALSE(queue.take(1999));
    // A late look shows the newest heard step and drops the ones passed by.
    queue.push({3000, 3, 0, false});
    mark = queue.take(3500);
    ASSERT_TRUE(mark);
    EXPECT_EQ(mark->step, 3);
    EXPECT_TRUE(queue.empty());
    // A step without a known frame is heard at once, and a waiting step before it is past.
    queue.push({9000, 4, 0, false});
    queue.push({kAtOnce, 5, 0, true});
    mark = queue.take(0);
    ASSERT_TRUE(mark);
    EXPECT_EQ(mark->step, 5);
    EXPECT_TRUE(mark->take);
    EXPECT_TRUE(queue.empty());
}

}  // namespace
}  // namespace zb::pos
