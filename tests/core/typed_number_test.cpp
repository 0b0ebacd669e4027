#include "core/typed_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace zb::num {
namespace {

struct ParseCase {
    std::string text;
    std::optional<double> value;
};

class ParseDecimalTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseDecimalTest, ReadsWholeTextAsDecimalNumber) {
    const ParseCase& c = GetParam();
    std::optional<double> got = ParseDecimal(c.text);
    ASSERT_EQ(got.has_value(), c.value.has_value()) << '"' << c.text << '"';
    if (c.value) {
        EXPECT_DOUBLE_EQ(*got, *c.value) << '"' << c.text << '"';
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseDecimalTest,
    ::testing::Values(ParseCase{"44100", 44100.0}, ParseCase{"-2500", -2500.0},
                      ParseCase{"+12", 12.0}, ParseCase{"250.6", 250.6}, ParseCase{".5", 0.5},
                      ParseCase{"5.", 5.0}, ParseCase{"1e3", 1000.0}, ParseCase{"1.5E+2", 150.0},
                      ParseCase{"25e-1", 2.5}, ParseCase{"-0", 0.0}, ParseCase{"  42 ", 42.0},
                      ParseCase{"007", 7.0},
                      // Not numbers: the slider keeps its value.
                      ParseCase{"", std::nullopt}, ParseCase{"   ", std::nullopt},
                      ParseCase{"-", std::nullopt}, ParseCase{"+", std::nullopt},
                      ParseCase{".", std::nullopt}, ParseCase{"-.", std::nullopt},
                      ParseCase{"1e", std::nullopt}, ParseCase{"1e+", std::nullopt},
                      ParseCase{"e5", std::nullopt}, ParseCase{"abc", std::nullopt},
                      ParseCase{"12abc", std::nullopt}, ParseCase{"1 2", std::nullopt},
                      ParseCase{"1,5", std::nullopt}, ParseCase{"0x10", std::nullopt},
                      ParseCase{"inf", std::nullopt}, ParseCase{"nan", std::nullopt},
                      ParseCase{"--1", std::nullopt}, ParseCase{"1.2.3", std::nullopt}));

TEST(ParseDecimalExtremes, OverflowIsInfiniteUnderflowIsZero) {
    EXPECT_EQ(ParseDecimal("1e400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(ParseDecimal("-1e400"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(ParseDecimal("1" + std::string(400, '0')), std::numeric_limits<double>::infinity());
    EXPECT_EQ(ParseDecimal("1e-400"), 0.0);
    EXPECT_EQ(ParseDecimal("0.0000001e-400"), 0.0);
    EXPECT_EQ(ParseDecimal("1e99999999999999999999"), std::numeric_limits<double>::infinity());
}

TEST(RoundHalfEvenTest, HalvesGoToTheEvenNeighbour) {
    const struct {
        double x;
        int32_t expected;
    } cases[] = {{100.5, 100}, {101.5, 102}, {100.6, 101}, {100.4, 100},
                 {-0.5, 0},    {-1.5, -2},   {-2.5, -2},   {-2.6, -3},
                 {250.6, 251}, {250.4, 250}, {0.0, 0},     {-10000, -10000}};
    for (const auto& c : cases) EXPECT_EQ(RoundHalfEven(c.x), c.expected) << c.x;
}

struct RangeCase {
    std::string text;
    int32_t min, max;
    std::optional<int32_t> expected;
};

TEST(TypedSliderValueTest, OnlyValuesInsideTheRangeReachTheSlider) {
    const RangeCase cases[] = {
        {"4", 100, 100000, std::nullopt},
        {"44", 100, 100000, std::nullopt},
        {"441", 100, 100000, 441},
        {"44100", 100, 100000, 44100},
        {"50", 100, 100000, std::nullopt},
        {"100001", 100, 100000, std::nullopt},
        {"100000", 100, 100000, 100000},
        {"100", 100, 100000, 100},
        {"99.6", 100, 100000, std::nullopt},
        {"100000.4", 100, 100000, std::nullopt},
        {"100.5", 100, 100000, 100},
        {"12000", -10000, 10000, std::nullopt},
        {"-10000", -10000, 10000, -10000},
        {"250.6", -10000, 10000, 251},
        {"250.4", -10000, 10000, 250},
        {"-2500", -10000, 0, -2500},
        {"5", -10000, 0, std::nullopt},
        {"-0.4", -10000, 0, 0},
        {"-", -10000, 0, std::nullopt},
        {"1e400", -10000, 10000, std::nullopt},
        {"-1e400", -10000, 10000, std::nullopt},
        {"1e-400", -10000, 0, 0},
    };
    for (const RangeCase& c : cases)
        EXPECT_EQ(TypedSliderValue(c.text, c.min, c.max), c.expected)
            << '"' << c.text << "\" in [" << c.min << ", " << c.max << ']';
}

}  // namespace
}  // namespace zb::num
