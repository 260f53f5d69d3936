// The formula evaluator against a table of expressions with known values.
#include "genapi/Formula.h"
#include "genapi/GenericException.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace qorcam::genapi;

namespace {

FormulaValue Evaluate(const std::string& text, bool integerMode) {
    Formula f(text);
    return f.Evaluate(
        [&](size_t i) {
            const std::string& n = f.Names()[i];
            if (n == "X") return FormulaValue::Int(6);
            if (n == "Y") return FormulaValue::Int(-4);
            if (n == "F") return FormulaValue::Float(2.5);
            if (n == "PI") return FormulaValue::Float(M_PI);
            throw RuntimeException("unknown " + n);
        },
        integerMode);
}

} // namespace

TEST(Formula, IntegerExpressions) {
    struct Case {
        const char* text;
        int64_t value;
    } cases[] = {
        {"1 + 2 * 3", 7},
        {"(1 + 2) * 3", 9},
        {"7 / 2", 3},
        {"-7 / 2", -3},
        {"7 % 3", 1},
        {"2 ** 10", 1024},
        {"2 ** 3 ** 2", 512},
        {"0x10 | 0x01", 17},
        {"0xF0 & 0x3C", 0x30},
        {"0xFF ^ 0x0F", 0xF0},
        {"~0", -1},
        {"1 << 4", 16},
        {"256 >> 4", 16},
        {"X = 6", 1},
        {"X <> 6", 1 - 1},
        {"X != 5", 1},
        {"X < Y", 0},
        {"X >= 6", 1},
        {"Y <= -4", 1},
        {"X > Y && Y < 0", 1},
        {"0 || 0", 0},
        {"!0", 1},
        {"X = 6 ? 10 : 20", 10},
        {"(0 && 1) ? 2 : 3", 3},
        {"X - -Y", 2},
        {"ABS(Y)", 4},
        {"SGN(Y)", -1},
        {"NEG(X)", -6},
        {"1 < 2 = 1", 1},
        {"X * Y + 3 * (X - Y)", 6},
        {"(X>>1)&0xFF", 3},
        {"1 << 64", 0},
        {"1 << -1", 0},
        {"9223372036854775807 + 1", INT64_MIN},
        {"(0-9223372036854775807-1) / -1", INT64_MIN},
        {"(0-9223372036854775807-1) % -1", 0},
        {"TRUNC(7.9)", 7},
        {"FLOOR(-1.5)", -2},
        {"CEIL(1.2)", 2},
        {"ROUND(2.5)", 3},
        {"0.1 * 100", 10},
        {"2 * F", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Evaluate(c.text, true).AsInt(), c.value);
    }
}

TEST(Formula, FloatExpressions) {
    struct Case {
        const char* text;
        double value;
    } cases[] = {
        {"7 / 2", 3.5},
        {"1.5e3", 1500.0},
        {"SQRT(16)", 4.0},
        {"EXP(0)", 1.0},
        {"LN(1)", 0.0},
        {"LG(1000)", 3.0},
        {"SIN(0)", 0.0},
        {"COS(0)", 1.0},
        {"TAN(0)", 0.0},
        {"ASIN(1)", M_PI / 2},
        {"ACOS(1)", 0.0},
        {"ATAN(1)", M_PI / 4},
        {"ROUND(2.346, 2)", 2.35},
        {"F * 2", 5.0},
        {"PI", M_PI},
        {"1 / 0", INFINITY},
        {"(1000000 / 40000)", 25.0},
        {"-F", -2.5},
        {"ABS(-F)", 2.5},
        {"F ** 2", 6.25},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(Evaluate(c.text, false).AsDouble(), c.value);
    }
}

TEST(Formula, ErrorsAreClear) {
    for (const char* bad : {"", "1 +", "(1", "1)", "FOO(1)", "0x", "1 ? 2", "@", "ROUND(1,", "1 2"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(Formula{bad}, LogicalErrorException);
    }
    EXPECT_THROW(Evaluate("X / 0", true), RuntimeException);
    EXPECT_THROW(Evaluate("X % (Y + 4)", true), RuntimeException);
    // Nesting beyond the limit is refused at compile time, not by the stack.
    std::string deep(100000, '(');
    EXPECT_THROW(Formula{deep + "1"}, LogicalErrorException);
    std::string minus(100000, '-');
    EXPECT_THROW(Formula{minus + "1"}, LogicalErrorException);
    // Short circuits do not read names they do not need.
    EXPECT_EQ(Evaluate("0 && UNKNOWN", true).AsInt(), 0);
    EXPECT_EQ(Evaluate("1 ? 5 : UNKNOWN", true).AsInt(), 5);
}

TEST(Formula, DoubleToIntegerNeverOverflows) {
    EXPECT_EQ(RoundToInt64(1e300), INT64_MAX);
    EXPECT_EQ(RoundToInt64(-1e300), INT64_MIN);
    EXPECT_EQ(RoundToInt64(NAN), 0);
    EXPECT_EQ(TruncToInt64(-2.9), -2);
    EXPECT_EQ(Evaluate("1e300 & 1", true).AsInt(), INT64_MAX & 1);
}
