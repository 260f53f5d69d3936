// Formula: compiles and evaluates the arithmetic of SwissKnife and Converter nodes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qorcam::genapi {

/// A number inside a formula: integer while every operand is one (in integer
/// mode), else double.
struct FormulaValue {
    bool isInt = true;
    int64_t i = 0;
    double d = 0.0;

    static FormulaValue Int(int64_t v) { return {true, v, 0.0}; }
    static FormulaValue Float(double v) { return {false, 0, v}; }
    double AsDouble() const { return isInt ? static_cast<double>(i) : d; }
    /// Doubles round to the nearest integer and saturate; NaN gives 0.
    int64_t AsInt() const;
};

/// Converts a double to int64 without undefined behaviour: rounds to the
/// nearest, saturates at the limits, NaN gives 0.
int64_t RoundToInt64(double v);
/// Truncates toward zero, saturating; NaN gives 0.
int64_t TruncToInt64(double v);

/// A compiled formula with the operators, functions and constants of the
/// standard: ( ) + - * / % ** & | ^ ~ ! << >> = <> < > <= >= && || ?:,
/// SGN NEG ABS SQRT EXP LN LG SIN COS TAN ASIN ACOS ATAN TRUNC FLOOR CEIL
/// ROUND. Guarantees: compiling never recurses deeper than a fixed nesting
/// limit; evaluation never crashes (integer division by zero throws
/// RuntimeException, overflow wraps, shifts beyond 63 give 0). A checked
/// evaluation instead throws RuntimeException for an integer result that does
/// not fit 64 bits and for any division by zero.
class Formula {
public:
    Formula() = default;
    /// Throws LogicalErrorException naming the position of a syntax error.
    explicit Formula(const std::string& text);

    bool Empty() const { return nodes_.empty(); }
    const std::string& Text() const { return text_; }
    /// Every name the formula uses, in first-use order; the evaluator's
    /// lookup is called with an index into this list.
    const std::vector<std::string>& Names() const { return names_; }

    using Lookup = std::function<FormulaValue(size_t nameIndex)>;
    /// integerMode keeps integer literals and operands integral (IntSwissKnife,
    /// IntConverter); otherwise every number is a double. Names are looked up
    /// only when their branch is evaluated.
    FormulaValue Evaluate(const Lookup& lookup, bool integerMode, bool checked = false) const;

    static constexpr int kMaxNesting = 128;
    /// Deepest expression tree accepted (long chains like 1+1+...+1 count too).
    static constexpr int kMaxDepth = 1024;

private:
    enum class Op : uint8_t;
    struct AstNode {
        Op op;
        int32_t a = -1, b = -1, c = -1;
        FormulaValue literal;
        uint32_t name = 0;
        int32_t depth = 1;
    };
    class Parser;

    FormulaValue Eval(int32_t index, const Lookup& lookup, bool integerMode, bool checked) const;

    std::string text_;
    std::vector<AstNode> nodes_;
    std::vector<std::string> names_;
    int32_t root_ = -1;
};

} // namespace qorcam::genapi
