// The step clock slaved to an output frame clock: every event carries its step's exact
// frame on the grid, whatever the wall clock does, and a tempo change re-anchors the grid.
#include "core/step_timer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <vector>

#include "support/form_fixture.h"

namespace zb {
namespace {

// An output that runs at `fps` frames per wall second in blocks of 256 frames, like a
// sound card whose clock is off the system clock.
struct FakeOutput {
    explicit FakeOutput(double fps) : fps(fps) { wall.start(); }
    int64_t now() const {
        const int64_t frames = static_cast<int64_t>(wall.nsecsElapsed() * 1e-9 * fps);
        return frames / 256 * 256;
    }
    double fps;
    QElapsedTimer wall;
};

std::vector<int64_t> collect(StepTimer& timer, int events, std::function<void(int)> onEvent = {}) {
    std::vector<int64_t> frames;
    QEventLoop loop;
    QObject::connect(&timer, &StepTimer::timeout, &loop, [&] {
        frames.push_back(timer.stepFrame());
        if (onEvent)
            onEvent(static_cast<int>(frames.size()));
        if (static_cast<int>(frames.size()) == events) {
            timer.stop();
            loop.quit();
        }
    });
    timer.start();
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);  // a safety net, not a measure
    loop.exec();
    return frames;
}

TEST(StepTimer, GridArithmeticIsExact) {
    EXPECT_EQ(StepOffsetFrames(0, 62, 44100), 0);
    EXPECT_EQ(StepOffsetFrames(1, 62, 44100), 2734);    // 2734.2
    EXPECT_EQ(StepOffsetFrames(32, 62, 44100), 87494);  // 87494.4: no drift over a loop
    EXPECT_EQ(StepOffsetFrames(1000, 31, 44100), 1367100);
    EXPECT_EQ(StepOffsetFrames(3, 1250, 48000), 180000);
}

TEST(StepTimer, SlavedEventsLandOnTheOutputGrid) {
    test::ensureApp();

    FakeOutput output(43468.0);  // a null sink's clock, measured on this kind of machine
    StepTimer timer;
    timer.setInterval(31);
    timer.setFrameClock({[&] { return output.now(); }, 44100, 1024, {}});
    const auto frames = collect(timer, 12);
    ASSERT_EQ(frames.size(), 12u);
    // Event k carries the frame of step k + 1 after the anchor: exact, never accumulated.
    for (size_t k = 1; k < frames.size(); ++k)
        EXPECT_EQ(frames[k] - frames[0], StepOffsetFrames(static_cast<int64_t>(k) + 1, 31, 44100) -
                                             StepOffsetFrames(1, 31, 44100))
            << k;
}

// A loop lets the output queue deeper between steps: the output then runs ahead at once,
// and no step may come after the output has rendered its frame. The grid stays exact and
// the depth goes back when the loop stops.
TEST(StepTimer, AQueueGrownBetweenStepsMakesNoStepLate) {
    test::ensureApp();
    FakeOutput output(44100.0);
    int64_t ahead = 0, shallowed = 0;
    constexpr int64_t kChunk = 512, kDeep = 4096 - 1024;
    StepTimer timer;
    timer.setInterval(31);  // 240 BPM: the least room between steps
    FrameClock clock{
        [&] { return output.now() + ahead; }, 44100, StepLookaheadFrames(kChunk, 44100), {}};
    timer.setFrameClock(clock);
    QueueGrowth growth;
    growth.margin = 441;
    growth.deepen = [&](int64_t frames) {
        const int64_t granted = std::min(kDeep - ahead, frames / kChunk * kChunk);
        ahead += granted;
        return granted;
    };
    growth.shallow = [&] { ++shallowed; };
    timer.setQueueGrowth(growth);
    std::vector<int64_t> lateBy;
    const auto frames = collect(timer, 16, [&](int) {
        const int64_t spare = timer.stepFrame() - kChunk - (output.now() + ahead);
        if (spare < 0)
            lateBy.push_back(-spare);
    });
    ASSERT_EQ(frames.size(), 16u);
    EXPECT_EQ(ahead, kDeep);
    EXPECT_EQ(lateBy, std::vector<int64_t>{}) << "frames late";
    EXPECT_EQ(frames.back() - frames[0],
              StepOffsetFrames(16, 31, 44100) - StepOffsetFrames(1, 31, 44100));
    EXPECT_EQ(shallowed, 1);
}

TEST(StepTimer, TempoChangeReanchorsAtTheLastStep) {
    test::ensureApp();

    FakeOutput output(44100.0);
    StepTimer timer;
    timer.setInterval(40);
    timer.setFrameClock({[&] { return output.now(); }, 44100, 1024, {}});
    const auto frames = collect(timer, 8, [&](int n) {
        if (n == 4)
            timer.setInterval(31);  // during the fourth event, like a tempo change
    });
    ASSERT_EQ(frames.size(), 8u);
    EXPECT_EQ(frames[3] - frames[2], StepOffsetFrames(1, 40, 44100));
    for (size_t k = 4; k < 8; ++k)
        EXPECT_EQ(frames[k] - frames[3], StepOffsetFrames(static_cast<int64_t>(k - 3), 31, 44100));
    EXPECT_EQ(timer.interval(), 31);
}

// A resting output's frame count stands still until it is woken; the timer wakes it when a
// run starts, so the run is on the grid from its first step instead of on the wall clock.
TEST(StepTimer, StartingARunWakesARestingOutput) {
    test::ensureApp();

    struct RestingOutput {
        int64_t now() const { return woken ? 5000 + running.now() : 5000; }
        void wake() {
            woken = true;
            running.wall.restart();
        }
        bool woken = false;
        FakeOutput running{44100.0};
    } output;
    StepTimer timer;
    timer.setInterval(31);
    timer.setFrameClock({[&] { return output.now(); }, 44100, 1024, [&] { output.wake(); }});
    const auto frames = collect(timer, 4);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_TRUE(output.woken);
    for (size_t k = 0; k < frames.size(); ++k) {
        ASSERT_NE(frames[k], StepTimer::kNoFrame) << k;
        EXPECT_EQ(frames[k] - frames[0], StepOffsetFrames(static_cast<int64_t>(k), 31, 44100));
    }
}

TEST(StepTimer, WallClockFallbackCarriesNoFrame) {
    test::ensureApp();
    StepTimer timer;
    timer.setInterval(5);
    const auto frames = collect(timer, 3);
    ASSERT_EQ(frames.size(), 3u);
    for (int64_t f : frames) EXPECT_EQ(f, StepTimer::kNoFrame);
    EXPECT_FALSE(timer.isActive());
}

TEST(StepTimer, StalledOutputFallsBackToTheWallClock) {
    test::ensureApp();
    StepTimer timer;
    timer.setInterval(5);
    timer.setFrameClock({[] { return int64_t{1000}; }, 44100, 1024, {}});  // never moves
    const auto frames = collect(timer, 3);
    EXPECT_EQ(frames.size(), 3u);  // the steps go on
}

}  // namespace
}  // namespace zb
