#include "core/typed_number.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace zb::num {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<double> ParseDecimal(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && isBlank(text[b])) ++b;
    while (e > b && isBlank(text[e - 1])) --e;
    std::string_view s = text.substr(b, e - b);

    // Validate the grammar ourselves: from_chars alone would accept a prefix and reject a
    // leading '+'.
    size_t p = 0;
    bool negative = false;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) {
        negative = s[p] == '-';
        ++p;
    }
    const size_t mantissaStart = p;
    size_t intDigits = 0, fracDigits = 0;
    // Decimal position of the first significant digit (1 for "5", 0 for ".5", -1 for
    // ".05"), to tell an overflow from an underflow below.
    long long lead = 0;
    bool significant = false;
    while (p < s.size() && isDigit(s[p])) {
        significant = significant || s[p] != '0';
        if (significant)
            ++lead;
        ++intDigits;
        ++p;
    }
    if (p < s.size() && s[p] == '.') {
        ++p;
        while (p < s.size() && isDigit(s[p])) {
            if (!significant) {
                significant = s[p] != '0';
                if (!significant)
                    --lead;
            }
            ++fracDigits;
            ++p;
        }
    }
    if (intDigits + fracDigits == 0)
        return std::nullopt;
    long long exponent = 0;
    if (p < s.size() && (s[p] == 'e' || s[p] == 'E')) {
        ++p;
        bool expNegative = false;
        if (p < s.size() && (s[p] == '+' || s[p] == '-')) {
            expNegative = s[p] == '-';
            ++p;
        }
        size_t expDigits = 0;
        while (p < s.size() && isDigit(s[p])) {
            if (exponent < 1'000'000'000)
                exponent = exponent * 10 + (s[p] - '0');
            ++expDigits;
            ++p;
        }
        if (expDigits == 0)
            return std::nullopt;
        if (expNegative)
            exponent = -exponent;
    }
    if (p != s.size())
        return std::nullopt;

    // from_chars wants no leading '+', so hand it the text from the mantissa on, with the
    // minus sign when there is one.
    std::string_view number = s.substr(negative ? mantissaStart - 1 : mantissaStart);
    double value = 0.0;
    auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value,
                                     std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        value = significant && lead + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
        if (negative)
            value = -value;
        return value;
    }
    if (ec != std::errc() || end != number.data() + number.size())
        return std::nullopt;
    return value;
}

int32_t RoundHalfEven(double x) {
    double floor = std::floor(x);
    double diff = x - floor;
    double r;
    if (diff < 0.5) {
        r = floor;
    } else if (diff > 0.5) {
        r = floor + 1.0;
    } else {
        r = std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
    }
    return static_cast<int32_t>(r);
}

std::optional<int32_t> TypedSliderValue(std::string_view text, int32_t min, int32_t max) {
    std::optional<double> x = ParseDecimal(text);
    if (!x || std::isnan(*x) || *x < min || *x > max)
        return std::nullopt;
    return RoundHalfEven(*x);
}

}  // namespace zb::num
