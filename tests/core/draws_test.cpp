// The random draws over a scripted source: index mapping, ranges and the source itself.
#include "core/draws.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>

namespace zb::rnd {
namespace {

class ScriptedSource : public RandomSource {
public:
    explicit ScriptedSource(std::deque<float> values) : values_(std::move(values)) {}
    float next() override {
        EXPECT_FALSE(values_.empty()) << "more draws than scripted";
        if (values_.empty())
            return 0.0f;
        const float r = values_.front();
        values_.pop_front();
        ++taken;
        return r;
    }
    int taken = 0;

private:
    std::deque<float> values_;
};

const float kJustBelowOne = std::nextafter(1.0f, 0.0f);
float below(float x) {
    return std::nextafter(x, 0.0f);
}

TEST(Draws, ZeroGivesTheLowestOfEverything) {
    ScriptedSource src({0, 0, 0, 0, 0, 0});
    EXPECT_EQ(drawSelectors(src), (SelectorDraw{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(src.taken, 6);
    EXPECT_EQ(panSignFromDraw(0.0f), 1);
    EXPECT_EQ(panFromDraw(1, 0.0f), 1);
    EXPECT_EQ(panFromDraw(2, 0.0f), 1);
    // floor(0 * 99999 + 1) is 1, below the tone slider's minimum: raised to it.
    EXPECT_EQ(toneFromDraw(0.0f), 100);
}

TEST(Draws, JustBelowOneGivesTheHighestOfEverything) {
    ScriptedSource src(
        {kJustBelowOne, kJustBelowOne, kJustBelowOne, kJustBelowOne, kJustBelowOne, kJustBelowOne});
    EXPECT_EQ(drawSelectors(src), (SelectorDraw{3, 4, 3, 3, 3, 2}));
    EXPECT_EQ(toneFromDraw(kJustBelowOne), 99999);
    EXPECT_EQ(panSignFromDraw(kJustBelowOne), 2);
    EXPECT_EQ(panFromDraw(1, kJustBelowOne), 9999);
    EXPECT_EQ(panFromDraw(2, kJustBelowOne), -9998);
}

TEST(Draws, SelectorIndexBoundaries) {
    struct Row {
        int count;
        float r;
        int want;
    };
    // Each boundary k/count (as the nearest float, which lies just above it) and the float
    // just below it; floor never rounds up.
    for (Row row : {Row{4, 0.25f, 1},    Row{4, below(0.25f), 0},
                    Row{4, 0.5f, 2},     Row{4, below(0.5f), 1},
                    Row{4, 0.75f, 3},    Row{4, below(0.75f), 2},
                    Row{5, 0.2f, 1},     Row{5, below(0.2f), 0},
                    Row{5, 0.4f, 2},     Row{5, below(0.4f), 1},
                    Row{5, 0.6f, 3},     Row{5, below(0.6f), 2},
                    Row{5, 0.8f, 4},     Row{5, below(0.8f), 3},
                    Row{3, 1.0f / 3, 1}, Row{3, below(1.0f / 3), 0},
                    Row{3, 2.0f / 3, 2}, Row{3, below(2.0f / 3), 1},
                    Row{4, 0.49f, 1},    Row{3, 0.99f, 2}})
        EXPECT_EQ(selectorIndex(row.r, row.count), row.want) << row.count << " " << row.r;
}

TEST(Draws, SelectorOrderIsNoteToneFreqSubSubFLow) {
    // Neighbouring draws land on different indexes, so a swapped order would show.
    ScriptedSource src({0.80f, 0.05f, 0.30f, 0.55f, 0.05f, 0.70f});
    EXPECT_EQ(drawSelectors(src), (SelectorDraw{3, 0, 1, 2, 0, 2}));
}

TEST(Draws, ToneAndPan) {
    struct Row {
        float r;
        int32_t tone;
    };
    for (Row row : {Row{0.0015f, 150}, Row{0.5f, 50000}, Row{0.00098f, 100}, Row{0.00099f, 100},
                    Row{0.001f, 100}, Row{0.00101f, 101}})
        EXPECT_EQ(toneFromDraw(row.r), row.tone) << row.r;
    EXPECT_EQ(panSignFromDraw(below(0.5f)), 1);
    EXPECT_EQ(panSignFromDraw(0.5f), 2);
    EXPECT_EQ(panFromDraw(1, 0.5f), 5000);
    EXPECT_EQ(panFromDraw(2, 0.5f), -4999);

    ScriptedSource src({0.5f, 0.75f, 0.25f});
    EXPECT_EQ(drawTonePan(src), (TonePanDraw{50000, 2, -2499}));
    EXPECT_EQ(src.taken, 3);
}

TEST(Draws, UnitFromBitsStaysBelowOne) {
    EXPECT_EQ(unitFromBits(0), 0.0f);
    EXPECT_EQ(unitFromBits(0xFFFFFFFFu), kJustBelowOne);
    EXPECT_EQ(unitFromBits(0x80000000u), 0.5f);
    EXPECT_EQ(unitFromBits(0x000000FFu), 0.0f);
}

TEST(Draws, StandardSourceRepeatsFromEveryFreshStart) {
    StdRandomSource a, b;
    // The default-seeded Mersenne Twister's first output is 3499211612.
    std::mt19937 reference;
    for (int i = 0; i < 1000; ++i) {
        const float r = a.next();
        EXPECT_EQ(r, b.next());
        EXPECT_EQ(r, unitFromBits(static_cast<uint32_t>(reference())));
        ASSERT_GE(r, 0.0f);
        ASSERT_LT(r, 1.0f);
    }
    StdRandomSource c;
    EXPECT_FLOAT_EQ(c.next(), 13668795.0f / 16777216.0f);
}

}  // namespace
}  // namespace zb::rnd
