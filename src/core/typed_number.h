// Reading the numbers a user types into the tone, pan, volume and tempo boxes: one
// decimal notation and one rounding for all of them.
//
// Threads: any (pure functions).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zb::num {

// Reads the whole text as a decimal number: optional blanks, an optional sign, digits with
// an optional fraction (".5" and "5." count), an optional exponent ("e" or "E", optional
// sign, digits), optional blanks. Anything else, including an empty text, a lone sign or a
// half-typed exponent such as "1e", yields no value. Numbers too large for a double read as
// an infinity (never in a box's range), numbers too small as zero, as a conversion to double
// gives them.
std::optional<double> ParseDecimal(std::string_view text);

// Rounds to the nearest integer, an exact half going to the even neighbour, whatever the
// floating-point environment's rounding mode. The argument must lie within the int32_t
// range.
int32_t RoundHalfEven(double x);

// The value a typed text puts on a slider whose range is [min, max]: the number rounded
// half to even when it lies inside the range (inclusive, judged before rounding), otherwise
// no value.
std::optional<int32_t> TypedSliderValue(std::string_view text, int32_t min, int32_t max);

}  // namespace zb::num
