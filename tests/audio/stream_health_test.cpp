// Judging a sound stream from the warnings and errors its library reports: an underrun now
// and then is a gap, a warning in every period is a lost server, an error ends it at once.
#include "audio/stream_health.h"

#include <gtest/gtest.h>

namespace zb::audio {
namespace {

TEST(StreamHealth, AnOccasionalBadPeriodIsOnlyAGap) {
    StreamHealth health(7, 3);  // counts left by earlier streams
    EXPECT_EQ(health.note(7, 3), PeriodHealth::Good);
    EXPECT_EQ(health.note(8, 3), PeriodHealth::Bad);  // one underrun
    EXPECT_EQ(health.note(8, 3), PeriodHealth::Good);
    // Bad periods that never reach the limit in a row, however many in all.
    uint64_t warnings = 8;
    for (int run = 0; run < 10; ++run) {
        for (int i = 1; i < StreamHealth::kFailingPeriods; ++i)
            EXPECT_EQ(health.note(++warnings, 3), PeriodHealth::Bad);
        EXPECT_EQ(health.note(warnings, 3), PeriodHealth::Good);
    }
    // Several warnings within one period count as one bad period.
    EXPECT_EQ(health.note(warnings + 5, 3), PeriodHealth::Bad);
    EXPECT_EQ(health.note(warnings + 5, 3), PeriodHealth::Good);
}

TEST(StreamHealth, BadPeriodsInARowOrAnErrorEndTheStreamForGood) {
    StreamHealth lost(0, 0);
    for (int i = 1; i < StreamHealth::kFailingPeriods; ++i)
        EXPECT_EQ(lost.note(static_cast<uint64_t>(i), 0), PeriodHealth::Bad) << i;
    EXPECT_EQ(lost.note(StreamHealth::kFailingPeriods, 0), PeriodHealth::Failed);
    EXPECT_EQ(lost.note(StreamHealth::kFailingPeriods, 0), PeriodHealth::Failed);  // stays

    StreamHealth stopped(4, 9);
    EXPECT_EQ(stopped.note(4, 9), PeriodHealth::Good);
    EXPECT_EQ(stopped.note(4, 10), PeriodHealth::Failed);
    EXPECT_EQ(stopped.note(4, 10), PeriodHealth::Failed);
}

}  // namespace
}  // namespace zb::audio
