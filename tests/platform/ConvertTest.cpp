#include "platform/Convert.h"
#include "platform/MorphError.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>

namespace morph {
namespace {

std::string IntError(const std::string& text) {
    try {
        StrToInt(text);
    } catch (const MorphError& e) {
        return e.what();
    }
    return "accepted";
}

std::string FloatError(const std::string& text) {
    try {
        StrToFloat(text);
    } catch (const MorphError& e) {
        return e.what();
    }
    return "accepted";
}

TEST(StrToInt, AcceptsDigitsWithSignAndLeadingBlanks) {
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("+42"), 42);
    EXPECT_EQ(StrToInt("-42"), -42);
    EXPECT_EQ(StrToInt("   7"), 7);
    EXPECT_EQ(StrToInt("  -7"), -7);
    EXPECT_EQ(StrToInt("-0"), 0);
    EXPECT_EQ(StrToInt("2147483647"), INT_MAX);
    EXPECT_EQ(StrToInt("-2147483648"), INT_MIN);
    EXPECT_EQ(StrToInt("000000000000000000002147483647"), INT_MAX);
}

TEST(StrToInt, RefusesEverythingElseNamingTheText) {
    for (const std::string text :
         {"", " ", "+", "-", "12 ", "1 2", "- 5", "+-5", "0x1A", "$1A", "1.0", "1e3", "abc", "5x",
          "\t5", "2147483648", "-2147483649", "99999999999999999999"}) {
        EXPECT_EQ(IntError(text), "'" + text + "' is not a valid integer value");
    }
}

TEST(StrToFloat, AcceptsDecimalNumbersWithExponentAndBlanks) {
    EXPECT_EQ(StrToFloat("2"), 2.0);
    EXPECT_EQ(StrToFloat("-1.5"), -1.5);
    EXPECT_EQ(StrToFloat("+.5"), 0.5);
    EXPECT_EQ(StrToFloat("5."), 5.0);
    EXPECT_EQ(StrToFloat("  2.5  "), 2.5);
    EXPECT_EQ(StrToFloat("1e3"), 1000.0);
    EXPECT_EQ(StrToFloat("1E-3"), 0.001);
    EXPECT_EQ(StrToFloat("-1.5e+2"), -150.0);
    EXPECT_EQ(StrToFloat("0.1"), 0.1); // correctly rounded, as the compiler reads it
    EXPECT_EQ(StrToFloat("0000000000000000000000001.25"), 1.25);
    EXPECT_EQ(StrToFloat("1.7976931348623157e308"), 1.7976931348623157e308);
    EXPECT_EQ(StrToFloat("4.9e-324"), 4.9e-324);
    EXPECT_TRUE(std::signbit(StrToFloat("-0")));
}

TEST(StrToFloat, TooSmallValuesUnderflowToZeroLikeAnyComputation) {
    EXPECT_EQ(StrToFloat("1e-400"), 0.0);
    EXPECT_TRUE(std::signbit(StrToFloat("-1e-400")));
    EXPECT_EQ(StrToFloat("1000e-400"), 0.0);
    EXPECT_EQ(StrToFloat("0e99999999999999999999"), 0.0);
    EXPECT_EQ(StrToFloat("1e-99999999999999999999"), 0.0);
}

TEST(StrToFloat, RefusesEverythingElseNamingTheText) {
    for (const std::string text : {"",
                                   " ",
                                   ".",
                                   "+",
                                   "-.",
                                   "e5",
                                   ".e5",
                                   "1e",
                                   "1e+",
                                   "1.2.3",
                                   "1,5",
                                   "1 000",
                                   "- 1",
                                   "inf",
                                   "-inf",
                                   "nan",
                                   "infinity",
                                   "0x1p3",
                                   "1d3",
                                   "\t1",
                                   "1\n",
                                   "1e400",
                                   "-1e400",
                                   "1.8e308",
                                   "10e99999999999999999999",
                                   "0.0000001e99999999"}) {
        EXPECT_EQ(FloatError(text), "'" + text + "' is not a valid floating point value");
    }
}

} // namespace
} // namespace morph
