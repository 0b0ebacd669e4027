// The step rule against expectations written out from the pattern tables, step by step.
#include "core/step_rule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <set>
#include <string>

namespace zb::seq {
namespace {

using Steps = std::set<int>;

Steps range(int from, int to, int stride = 1) {
    Steps s;
    for (int i = from; i <= to; i += stride) s.insert(i);
    return s;
}
Steps join(const Steps& a, const Steps& b) {
    Steps s = a;
    s.insert(b.begin(), b.end());
    return s;
}

// Steps at which the main buffer restarts, by noteMode (rows) and freqMode (columns).
const Steps& mainSteps(int note, int freq) {
    static const Steps table[4][4] = {
        // "Whole"
        {{1}, {1, 17}, {1, 9, 17}, {1, 9, 17, 25}},
        // "Half"
        {{1, 5}, {1, 5, 17, 21}, {1, 5, 9, 13, 17, 21}, {1, 5, 9, 13, 17, 21, 25, 29}},
        // "Quarter"
        {{1, 3, 5, 7}, join(range(1, 8, 2), range(17, 24, 2)), range(1, 24, 2), range(1, 32, 2)},
        // "Eigth"
        {range(1, 8), join(range(1, 8), range(17, 24)), range(1, 24), range(1, 32)},
    };
    static const Steps none;
    if (note < 0 || note > 3 || freq < 0 || freq > 3)
        return none;
    return table[note][freq];
}

// Steps at which the sub buffer restarts, by subFreqMode.
const Steps& subSteps(int subF) {
    static const Steps table[4] = {range(1, 8), join(range(1, 8), range(17, 24)), range(1, 24),
                                   range(1, 32)};
    static const Steps none;
    if (subF < 0 || subF > 3)
        return none;
    return table[subF];
}

const Steps kLowSteps = {1, 9, 17, 25};

std::optional<int32_t> expectedMainRate(int tone, int step, int32_t base) {
    const bool odd = step % 2 == 1;
    switch (tone) {
        case 1:
            return odd ? base + 100 : base - 100;
        case 2:
            return odd ? base + 500 : base - 500;
        case 3:
            return odd ? base + 1000 : base - 1000;
        case 4:
            return odd ? base + 5000 : base - 5000;
        case 5:
            return odd ? 50000 : 20000;
        default:
            return std::nullopt;
    }
}

std::string describe(int step, const VoiceModes& v) {
    return "step " + std::to_string(step) + " note " + std::to_string(v.noteMode) + " freq " +
           std::to_string(v.freqMode) + " tone " + std::to_string(v.toneMode) + " sub " +
           std::to_string(v.subMode) + " subF " + std::to_string(v.subFreqMode) + " low " +
           std::to_string(v.lowMode) + " buffers " + std::to_string(v.hasMain) +
           std::to_string(v.hasSub) + std::to_string(v.hasLow);
}

TEST(StepRule, EveryStepAgainstEveryModeCombination) {
    // Each mode runs from -1 (nothing selected) to one past its last item.
    const int32_t base = 22050;
    long checked = 0;
    for (int presence = 0; presence < 8; ++presence) {
        for (int note = -1; note <= 4; ++note) {
            for (int freq = -1; freq <= 4; ++freq) {
                for (int tone = -1; tone <= 6; ++tone) {
                    for (int sub = -1; sub <= 4; ++sub) {
                        for (int subF = -1; subF <= 4; ++subF) {
                            for (int low = -1; low <= 3; ++low) {
                                VoiceModes v;
                                v.noteMode = static_cast<int16_t>(note);
                                v.freqMode = static_cast<int16_t>(freq);
                                v.toneMode = static_cast<int16_t>(tone);
                                v.subMode = static_cast<int16_t>(sub);
                                v.subFreqMode = static_cast<int16_t>(subF);
                                v.lowMode = static_cast<int16_t>(low);
                                v.baseFrequency = base;
                                v.hasMain = presence & 1;
                                v.hasSub = presence & 2;
                                v.hasLow = presence & 4;
                                for (int step = 1; step <= 32; ++step) {
                                    std::vector<BufferStart> want;
                                    if (v.hasMain && mainSteps(note, freq).count(step))
                                        want.push_back(
                                            {Buffer::Main, expectedMainRate(tone, step, base)});
                                    if (v.hasSub && subSteps(subF).count(step)) {
                                        if (sub == 1)
                                            want.push_back({Buffer::Sub, std::nullopt});
                                        if (sub == 2)
                                            want.push_back({Buffer::Sub, 50000});
                                        if (sub == 3)
                                            want.push_back({Buffer::Sub, 20000});
                                    }
                                    if (v.hasLow && kLowSteps.count(step)) {
                                        if (low == 0)
                                            want.push_back({Buffer::Low, 20000});
                                        if (low == 1)
                                            want.push_back({Buffer::Low, 10000});
                                    }
                                    const auto got = voiceStarts(step, v);
                                    if (got != want) {
                                        ADD_FAILURE() << describe(step, v);
                                        return;
                                    }
                                    ++checked;
                                }
                            }
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(checked, 8L * 6 * 6 * 8 * 6 * 6 * 5 * 32);
}

TEST(StepRule, StepsOutsideTheLoopStartNothing) {
    VoiceModes v{{3, 3, 1, 1, 3, 0}, 44100, true, true, true};
    for (int step : {-1, 0, 33, 34, 32767}) EXPECT_TRUE(voiceStarts(step, v).empty()) << step;
}

TEST(StepRule, WorkedSchedules) {
    struct Case {
        const char* name;
        VoiceModes v;
        std::vector<std::pair<int, BufferStart>> plays;  // every note of the 32 steps
    };
    std::vector<Case> cases;
    // Load defaults: "Whole", "4", "Normal", "None", "4", "None".
    {
        Case c{"load defaults", {{0, 3, 0, 0, 3, 2}, 44100, true, true, true}, {}};
        for (int s : {1, 9, 17, 25}) c.plays.push_back({s, {Buffer::Main, std::nullopt}});
        cases.push_back(c);
    }
    {
        Case c{"Quarter 2 +/-500", {{2, 1, 2, 0, 3, 2}, 44100, true, true, true}, {}};
        for (int s : {1, 3, 5, 7, 17, 19, 21, 23}) c.plays.push_back({s, {Buffer::Main, 44600}});
        cases.push_back(c);
    }
    {
        Case c{"Eigth 4 +/-100", {{3, 3, 1, 0, 3, 2}, 44100, true, true, true}, {}};
        for (int s = 1; s <= 32; ++s) c.plays.push_back({s, {Buffer::Main, s % 2 ? 44200 : 44000}});
        cases.push_back(c);
    }
    {
        Case c{"Eigth +/-10000 ignores the base", {{3, 3, 5, 0, 3, 2}, 8000, true, true, true}, {}};
        for (int s = 1; s <= 32; ++s) c.plays.push_back({s, {Buffer::Main, s % 2 ? 50000 : 20000}});
        cases.push_back(c);
    }
    {
        Case c{"Low on Low, everything else off",
               {{-1, -1, 0, 0, -1, 0}, 44100, true, true, true},
               {}};
        for (int s : {1, 9, 17, 25}) c.plays.push_back({s, {Buffer::Low, 20000}});
        cases.push_back(c);
    }
    {
        Case c{"Sub Normal with SubF 1", {{-1, 0, 0, 1, 0, 2}, 44100, true, true, true}, {}};
        for (int s = 1; s <= 8; ++s) c.plays.push_back({s, {Buffer::Sub, std::nullopt}});
        cases.push_back(c);
    }
    {
        Case c{"empty slot", {{3, 3, 1, 1, 3, 0}, 0, false, false, false}, {}};
        cases.push_back(c);
    }
    for (const auto& c : cases) {
        std::vector<std::pair<int, BufferStart>> got;
        for (int s = 1; s <= 32; ++s)
            for (const auto& start : voiceStarts(s, c.v)) got.push_back({s, start});
        EXPECT_EQ(got, c.plays) << c.name;
    }
}

TEST(StepRule, Geometry) {
    struct Row {
        int step, beat, position;
    };
    for (Row r : {Row{1, 1, 1}, Row{8, 1, 8}, Row{9, 2, 1}, Row{16, 2, 8}, Row{17, 3, 1},
                  Row{24, 3, 8}, Row{25, 4, 1}, Row{32, 4, 8}}) {
        EXPECT_EQ(beatOf(r.step), r.beat) << r.step;
        EXPECT_EQ(positionOf(r.step), r.position) << r.step;
    }
}

TEST(Tempo, StepIntervalTable) {
    struct Row {
        int tempo, ms;
    };
    for (Row r : {Row{6, 1250}, Row{8, 938}, Row{24, 312}, Row{60, 125}, Row{90, 83}, Row{120, 62},
                  Row{140, 54}, Row{200, 38}, Row{240, 31}, Row{100, 75}, Row{7, 1071}})
        EXPECT_EQ(stepIntervalMs(r.tempo), r.ms) << r.tempo;
}

TEST(Tempo, TypedText) {
    struct Row {
        const char* text;
        std::optional<int> want;
    };
    for (Row r : {Row{"120", 120},
                  Row{"240", 240},
                  Row{"6", 6},
                  Row{"101.5", 102},
                  Row{"100.5", 100},
                  Row{"120.7", 121},
                  Row{"6.4", 6},
                  Row{" 90 ", 90},
                  Row{"+90", 90},
                  Row{"1e2", 100},
                  Row{"250", std::nullopt},
                  Row{"5", std::nullopt},
                  Row{"5.9", std::nullopt},
                  Row{"240.4", std::nullopt},
                  Row{"", std::nullopt},
                  Row{"   ", std::nullopt},
                  Row{"abc", std::nullopt},
                  Row{"12a", std::nullopt},
                  Row{"-", std::nullopt},
                  Row{"-120", std::nullopt},
                  Row{"+-90", std::nullopt},
                  Row{"1,5", std::nullopt},
                  Row{"inf", std::nullopt},
                  Row{"nan", std::nullopt},
                  Row{"0x10", std::nullopt},
                  Row{"1e999", std::nullopt}})
        EXPECT_EQ(parseTempoText(r.text), r.want) << '"' << r.text << '"';
}

}  // namespace
}  // namespace zb::seq
