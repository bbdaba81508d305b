#include "platform/Convert.h"

#include "platform/MorphError.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace morph {

namespace {

// Only the space counts as a blank; tabs and line breaks make a text invalid.
constexpr char kBlank = ' ';

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

[[noreturn]] void ThrowNotInteger(std::string_view text) {
    throw MorphError("'" + std::string(text) + "' is not a valid integer value");
}

[[noreturn]] void ThrowNotFloat(std::string_view text) {
    throw MorphError("'" + std::string(text) + "' is not a valid floating point value");
}

std::size_t SkipBlanks(std::string_view text, std::size_t pos) {
    while (pos < text.size() && text[pos] == kBlank) {
        ++pos;
    }
    return pos;
}

std::size_t SkipDigits(std::string_view text, std::size_t pos) {
    while (pos < text.size() && IsDigit(text[pos])) {
        ++pos;
    }
    return pos;
}

} // namespace

int StrToInt(std::string_view text) {
    std::size_t pos = SkipBlanks(text, 0);
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t digitsBegin = pos;
    const std::size_t digitsEnd = SkipDigits(text, digitsBegin);
    if (digitsEnd == digitsBegin || digitsEnd != text.size()) {
        ThrowNotInteger(text);
    }

    // from_chars takes a minus sign but no plus sign; it reports values outside int.
    std::string digits = negative ? "-" : "";
    digits.append(text.substr(digitsBegin, digitsEnd - digitsBegin));
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        ThrowNotInteger(text);
    }
    return value;
}

double StrToFloat(std::string_view text) {
    // Check the whole grammar first: from_chars alone would also take "inf", "nan" and
    // hexadecimal digits, and stops silently at the first character it does not know.
    std::size_t pos = SkipBlanks(text, 0);
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t numberBegin = pos;
    const std::size_t intEnd = SkipDigits(text, pos);
    std::size_t fracBegin = intEnd;
    std::size_t fracEnd = intEnd;
    if (intEnd < text.size() && text[intEnd] == '.') {
        fracBegin = intEnd + 1;
        fracEnd = SkipDigits(text, fracBegin);
    }
    if (intEnd == numberBegin && fracEnd == fracBegin) {
        ThrowNotFloat(text); // no digit at all
    }
    pos = fracEnd;

    // The exponent is kept as a saturated value: only its sign matters once it is huge.
    long long exponent = 0;
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        bool negativeExponent = false;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
            negativeExponent = text[pos] == '-';
            ++pos;
        }
        const std::size_t expEnd = SkipDigits(text, pos);
        if (expEnd == pos) {
            ThrowNotFloat(text);
        }
        for (std::size_t i = pos; i < expEnd; ++i) {
            exponent = std::min(exponent * 10 + (text[i] - '0'), 1'000'000'000LL);
        }
        if (negativeExponent) {
            exponent = -exponent;
        }
        pos = expEnd;
    }
    const std::size_t numberEnd = pos;
    if (SkipBlanks(text, pos) != text.size()) {
        ThrowNotFloat(text);
    }

    const std::string_view number = text.substr(numberBegin, numberEnd - numberBegin);
    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (end != number.data() + number.size()) {
        ThrowNotFloat(text);
    }
    if (error == std::errc::result_out_of_range) {
        // Out of range is either too large (an error) or too small, which underflows to
        // zero as every other real computation does. The position of the first non-zero
        // digit tells which: a value below 1 cannot overflow.
        long long leading = 0;
        bool found = false;
        for (std::size_t i = numberBegin; i < intEnd && !found; ++i) {
            if (text[i] != '0') {
                leading = static_cast<long long>(intEnd - i) - 1;
                found = true;
            }
        }
        for (std::size_t i = fracBegin; i < fracEnd && !found; ++i) {
            if (text[i] != '0') {
                leading = -static_cast<long long>(i - fracBegin) - 1;
                found = true;
            }
        }
        // An all-zero mantissa is never out of range, so `found` holds here.
        if (leading + exponent >= 0) {
            ThrowNotFloat(text);
        }
        value = 0.0;
    } else if (error != std::errc()) {
        ThrowNotFloat(text);
    }
    if (!std::isfinite(value)) {
        ThrowNotFloat(text);
    }
    return negative ? -value : value;
}

std::string IntToStr(long long value) {
    return std::to_string(value);
}

} // namespace morph
