// Formula: a recursive-descent compiler into a flat tree, and its evaluator.
#include "genapi/Formula.h"

#include "genapi/GenericException.h"
#include "genapi/Node.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace qorcam::genapi {

enum class Formula::Op : uint8_t {
    Literal,
    Name,
    Neg,
    Plus,
    BitNot,
    LogNot,
    Add,
    Sub,
    Mul,
    Div,
    Mod,
    Pow,
    BitAnd,
    BitOr,
    BitXor,
    Shl,
    Shr,
    Eq,
    Ne,
    Lt,
    Gt,
    Le,
    Ge,
    LogAnd,
    LogOr,
    Ternary,
    FnSgn,
    FnNeg,
    FnAbs,
    FnSqrt,
    FnExp,
    FnLn,
    FnLg,
    FnSin,
    FnCos,
    FnTan,
    FnAsin,
    FnAcos,
    FnAtan,
    FnTrunc,
    FnFloor,
    FnCeil,
    FnRound,
};

int64_t RoundToInt64(double v) {
    if (std::isnan(v)) return 0;
    double r = std::round(v);
    if (r >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (r <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(r);
}

int64_t TruncToInt64(double v) {
    if (std::isnan(v)) return 0;
    double r = std::trunc(v);
    if (r >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (r <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(r);
}

int64_t FormulaValue::AsInt() const {
    return isInt ? i : RoundToInt64(d);
}

namespace {

struct FunctionName {
    const char* name;
    int args;
};

bool EqualsNoCase(const std::string& a, const char* b) {
    size_t n = 0;
    for (; b[n]; ++n)
        if (n >= a.size() || std::toupper(static_cast<unsigned char>(a[n])) != b[n]) return false;
    return n == a.size();
}

int64_t WrapAdd(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
int64_t WrapSub(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}
int64_t WrapMul(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

} // namespace

class Formula::Parser {
public:
    Parser(Formula& f) : f_(f), s_(f.text_) {}

    int32_t ParseAll() {
        int32_t root = Ternary();
        Skip();
        if (pos_ < s_.size()) Fail("unexpected '" + std::string(1, s_[pos_]) + "'");
        return root;
    }

private:
    Formula& f_;
    const std::string& s_;
    size_t pos_ = 0;
    int depth_ = 0;

    [[noreturn]] void Fail(const std::string& what) {
        throw LogicalErrorException("formula \"" + s_ + "\": " + what + " at position " +
                                    std::to_string(pos_));
    }

    void Skip() {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_])))
            ++pos_;
    }

    bool Accept(const char* token) {
        Skip();
        size_t n = std::char_traits<char>::length(token);
        if (s_.compare(pos_, n, token) != 0) return false;
        pos_ += n;
        return true;
    }

    /// Accepts a one-character operator only when it does not start a longer one.
    bool AcceptSingle(char c, const char* notFollowedBy) {
        Skip();
        if (pos_ >= s_.size() || s_[pos_] != c) return false;
        if (pos_ + 1 < s_.size())
            for (const char* p = notFollowedBy; *p; ++p)
                if (s_[pos_ + 1] == *p) return false;
        ++pos_;
        return true;
    }

    int32_t Make(Op op, int32_t a = -1, int32_t b = -1, int32_t c = -1) {
        AstNode n;
        n.op = op;
        n.a = a;
        n.b = b;
        n.c = c;
        for (int32_t child : {a, b, c})
            if (child >= 0) n.depth = std::max(n.depth, f_.nodes_[static_cast<size_t>(child)].depth + 1);
        if (n.depth > kMaxDepth) Fail("expression deeper than " + std::to_string(kMaxDepth) + " operations");
        f_.nodes_.push_back(n);
        return static_cast<int32_t>(f_.nodes_.size() - 1);
    }

    struct Nest {
        Parser& p;
        explicit Nest(Parser& parser) : p(parser) {
            if (++p.depth_ > kMaxNesting) p.Fail("nesting deeper than " + std::to_string(kMaxNesting));
        }
        ~Nest() { --p.depth_; }
    };

    int32_t Ternary() {
        Nest nest(*this);
        int32_t cond = LogOr();
        if (Accept("?")) {
            int32_t yes = Ternary();
            if (!Accept(":")) Fail("':' expected");
            int32_t no = Ternary();
            return Make(Op::Ternary, cond, yes, no);
        }
        return cond;
    }

    int32_t LogOr() {
        int32_t l = LogAnd();
        while (Accept("||"))
            l = Make(Op::LogOr, l, LogAnd());
        return l;
    }
    int32_t LogAnd() {
        int32_t l = BitOr();
        while (Accept("&&"))
            l = Make(Op::LogAnd, l, BitOr());
        return l;
    }
    int32_t BitOr() {
        int32_t l = BitXor();
        while (AcceptSingle('|', "|"))
            l = Make(Op::BitOr, l, BitXor());
        return l;
    }
    int32_t BitXor() {
        int32_t l = BitAnd();
        while (AcceptSingle('^', ""))
            l = Make(Op::BitXor, l, BitAnd());
        return l;
    }
    int32_t BitAnd() {
        int32_t l = Equality();
        while (AcceptSingle('&', "&"))
            l = Make(Op::BitAnd, l, Equality());
        return l;
    }
    int32_t Equality() {
        int32_t l = Relational();
        for (;;) {
            if (Accept("<>") || Accept("!="))
                l = Make(Op::Ne, l, Relational());
            else if (Accept("==") || AcceptSingle('=', ""))
                l = Make(Op::Eq, l, Relational());
            else
                return l;
        }
    }
    int32_t Relational() {
        int32_t l = Shift();
        for (;;) {
            if (Accept("<="))
                l = Make(Op::Le, l, Shift());
            else if (Accept(">="))
                l = Make(Op::Ge, l, Shift());
            else if (AcceptSingle('<', "<>="))
                l = Make(Op::Lt, l, Shift());
            else if (AcceptSingle('>', ">="))
                l = Make(Op::Gt, l, Shift());
            else
                return l;
        }
    }
    int32_t Shift() {
        int32_t l = Additive();
        for (;;) {
            if (Accept("<<"))
                l = Make(Op::Shl, l, Additive());
            else if (Accept(">>"))
                l = Make(Op::Shr, l, Additive());
            else
                return l;
        }
    }
    int32_t Additive() {
        int32_t l = Multiplicative();
        for (;;) {
            if (AcceptSingle('+', ""))
                l = Make(Op::Add, l, Multiplicative());
            else if (AcceptSingle('-', ""))
                l = Make(Op::Sub, l, Multiplicative());
            else
                return l;
        }
    }
    int32_t Multiplicative() {
        int32_t l = Power();
        for (;;) {
            if (AcceptSingle('*', "*"))
                l = Make(Op::Mul, l, Power());
            else if (AcceptSingle('/', ""))
                l = Make(Op::Div, l, Power());
            else if (AcceptSingle('%', ""))
                l = Make(Op::Mod, l, Power());
            else
                return l;
        }
    }
    int32_t Power() {
        Nest nest(*this);
        int32_t base = Unary();
        if (Accept("**")) return Make(Op::Pow, base, Power());
        return base;
    }
    int32_t Unary() {
        Nest nest(*this);
        if (AcceptSingle('-', "")) return Make(Op::Neg, Unary());
        if (AcceptSingle('+', "")) return Make(Op::Plus, Unary());
        if (AcceptSingle('~', "")) return Make(Op::BitNot, Unary());
        if (AcceptSingle('!', "=")) return Make(Op::LogNot, Unary());
        return Primary();
    }

    int32_t Primary() {
        Skip();
        if (pos_ >= s_.size()) Fail("operand expected");
        char c = s_[pos_];
        if (c == '(') {
            ++pos_;
            int32_t inner = Ternary();
            if (!Accept(")")) Fail("')' expected");
            return inner;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') return Number();
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') return Identifier();
        Fail("unexpected '" + std::string(1, c) + "'");
    }

    int32_t Number() {
        size_t start = pos_;
        int32_t n = Make(Op::Literal);
        if (s_.compare(pos_, 2, "0x") == 0 || s_.compare(pos_, 2, "0X") == 0) {
            pos_ += 2;
            uint64_t v = 0;
            size_t digits = 0;
            while (pos_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[pos_]))) {
                if (++digits > 16) Fail("hexadecimal number longer than 64 bits");
                char h = s_[pos_++];
                v = v * 16 + static_cast<uint64_t>(std::isdigit(static_cast<unsigned char>(h))
                                                       ? h - '0'
                                                       : std::toupper(h) - 'A' + 10);
            }
            if (digits == 0) Fail("hexadecimal digits expected");
            f_.nodes_[n].literal = FormulaValue::Int(static_cast<int64_t>(v));
            return n;
        }
        bool isFloat = false;
        while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_])))
            ++pos_;
        if (pos_ < s_.size() && s_[pos_] == '.') {
            isFloat = true;
            ++pos_;
            while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_])))
                ++pos_;
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            size_t save = pos_++;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
            if (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) {
                isFloat = true;
                while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_])))
                    ++pos_;
            } else {
                pos_ = save;
            }
        }
        std::string text = s_.substr(start, pos_ - start);
        if (text == ".") Fail("number expected");
        if (isFloat) {
            f_.nodes_[n].literal = FormulaValue::Float(ParseDoubleC(text.c_str(), nullptr));
        } else {
            errno = 0;
            unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
            if (errno == ERANGE || v > static_cast<unsigned long long>(std::numeric_limits<int64_t>::max()))
                f_.nodes_[n].literal = FormulaValue::Float(ParseDoubleC(text.c_str(), nullptr));
            else
                f_.nodes_[n].literal = FormulaValue::Int(static_cast<int64_t>(v));
        }
        return n;
    }

    int32_t Identifier() {
        size_t start = pos_;
        while (pos_ < s_.size() &&
               (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_' || s_[pos_] == '.'))
            ++pos_;
        std::string name = s_.substr(start, pos_ - start);
        Skip();
        if (pos_ < s_.size() && s_[pos_] == '(') return Function(name);
        int32_t n = Make(Op::Name);
        uint32_t index = 0;
        while (index < f_.names_.size() && f_.names_[index] != name)
            ++index;
        if (index == f_.names_.size()) f_.names_.push_back(name);
        f_.nodes_[n].name = index;
        return n;
    }

    int32_t Function(const std::string& name) {
        static const struct {
            const char* name;
            Op op;
        } table[] = {{"SGN", Op::FnSgn},   {"NEG", Op::FnNeg},     {"ABS", Op::FnAbs},
                     {"SQRT", Op::FnSqrt}, {"EXP", Op::FnExp},     {"LN", Op::FnLn},
                     {"LG", Op::FnLg},     {"SIN", Op::FnSin},     {"COS", Op::FnCos},
                     {"TAN", Op::FnTan},   {"ASIN", Op::FnAsin},   {"ACOS", Op::FnAcos},
                     {"ATAN", Op::FnAtan}, {"TRUNC", Op::FnTrunc}, {"FLOOR", Op::FnFloor},
                     {"CEIL", Op::FnCeil}, {"ROUND", Op::FnRound}};
        for (const auto& fn : table) {
            if (!EqualsNoCase(name, fn.name)) continue;
            Nest nest(*this);
            ++pos_; // '('
            int32_t arg = Ternary();
            int32_t second = -1;
            if (fn.op == Op::FnRound && Accept(",")) second = Ternary();
            if (!Accept(")")) Fail("')' expected after the argument of " + name);
            return Make(fn.op, arg, second);
        }
        Fail("unknown function " + name);
    }
};

Formula::Formula(const std::string& text) : text_(text) {
    Parser parser(*this);
    root_ = parser.ParseAll();
}

FormulaValue Formula::Evaluate(const Lookup& lookup, bool integerMode, bool checked) const {
    if (root_ < 0) throw LogicalErrorException("empty formula");
    return Eval(root_, lookup, integerMode, checked);
}

FormulaValue Formula::Eval(int32_t index, const Lookup& lookup, bool im, bool checked) const {
    const AstNode& n = nodes_[static_cast<size_t>(index)];
    auto arg = [&](int32_t i) { return Eval(i, lookup, im, checked); };
    // Checked: an integer result that does not fit is an error, not a wrapped value.
    auto fits = [&](bool overflowed, int64_t v) {
        if (checked && overflowed) throw RuntimeException("formula \"" + text_ + "\": integer overflow");
        return FormulaValue::Int(v);
    };
    auto add = [&](int64_t a, int64_t b) {
        int64_t v = 0;
        return fits(__builtin_add_overflow(a, b, &v), WrapAdd(a, b));
    };
    auto sub = [&](int64_t a, int64_t b) {
        int64_t v = 0;
        return fits(__builtin_sub_overflow(a, b, &v), WrapSub(a, b));
    };
    auto num = [&](FormulaValue v) {
        return (im || !v.isInt) ? v : FormulaValue::Float(static_cast<double>(v.i));
    };
    auto truth = [](const FormulaValue& v) { return v.isInt ? v.i != 0 : v.d != 0.0; };
    auto boolean = [](bool b) { return FormulaValue::Int(b ? 1 : 0); };
    auto unaryFloat = [&](double (*fn)(double)) { return FormulaValue::Float(fn(arg(n.a).AsDouble())); };
    auto integral = [&](double v) {
        // Rounding functions stay integers in integer mode when they fit.
        if (im && std::isfinite(v) && std::fabs(v) < 9.2e18)
            return FormulaValue::Int(static_cast<int64_t>(v));
        return FormulaValue::Float(v);
    };

    switch (n.op) {
    case Op::Literal:
        return num(n.literal);
    case Op::Name:
        return num(lookup(n.name));
    case Op::Neg:
    case Op::FnNeg: {
        FormulaValue v = arg(n.a);
        return v.isInt ? sub(0, v.i) : FormulaValue::Float(-v.d);
    }
    case Op::Plus:
        return arg(n.a);
    case Op::BitNot:
        return FormulaValue::Int(~arg(n.a).AsInt());
    case Op::LogNot:
        return boolean(!truth(arg(n.a)));
    case Op::LogAnd:
        return boolean(truth(arg(n.a)) && truth(arg(n.b)));
    case Op::LogOr:
        return boolean(truth(arg(n.a)) || truth(arg(n.b)));
    case Op::Ternary:
        return truth(arg(n.a)) ? arg(n.b) : arg(n.c);
    default:
        break;
    }

    if (n.op >= Op::FnSgn) {
        switch (n.op) {
        case Op::FnSgn: {
            double v = arg(n.a).AsDouble();
            return FormulaValue::Int(v > 0 ? 1 : (v < 0 ? -1 : 0));
        }
        case Op::FnAbs: {
            FormulaValue v = arg(n.a);
            return v.isInt ? (v.i < 0 ? sub(0, v.i) : v) : FormulaValue::Float(std::fabs(v.d));
        }
        case Op::FnSqrt:
            return unaryFloat(std::sqrt);
        case Op::FnExp:
            return unaryFloat(std::exp);
        case Op::FnLn:
            return unaryFloat(std::log);
        case Op::FnLg:
            return unaryFloat(std::log10);
        case Op::FnSin:
            return unaryFloat(std::sin);
        case Op::FnCos:
            return unaryFloat(std::cos);
        case Op::FnTan:
            return unaryFloat(std::tan);
        case Op::FnAsin:
            return unaryFloat(std::asin);
        case Op::FnAcos:
            return unaryFloat(std::acos);
        case Op::FnAtan:
            return unaryFloat(std::atan);
        case Op::FnTrunc: {
            FormulaValue v = arg(n.a);
            return v.isInt ? v : integral(std::trunc(v.d));
        }
        case Op::FnFloor: {
            FormulaValue v = arg(n.a);
            return v.isInt ? v : integral(std::floor(v.d));
        }
        case Op::FnCeil: {
            FormulaValue v = arg(n.a);
            return v.isInt ? v : integral(std::ceil(v.d));
        }
        case Op::FnRound: {
            FormulaValue v = arg(n.a);
            if (n.b < 0) return v.isInt ? v : integral(std::round(v.d));
            int64_t digits = arg(n.b).AsInt();
            if (digits < 0) digits = 0;
            if (digits > 15) digits = 15;
            double scale = std::pow(10.0, static_cast<double>(digits));
            return FormulaValue::Float(std::round(v.AsDouble() * scale) / scale);
        }
        default:
            break;
        }
    }

    FormulaValue l = arg(n.a);
    FormulaValue r = arg(n.b);
    bool ints = l.isInt && r.isInt;
    switch (n.op) {
    case Op::Add:
        return ints ? add(l.i, r.i) : FormulaValue::Float(l.AsDouble() + r.AsDouble());
    case Op::Sub:
        return ints ? sub(l.i, r.i) : FormulaValue::Float(l.AsDouble() - r.AsDouble());
    case Op::Mul: {
        if (!ints) return FormulaValue::Float(l.AsDouble() * r.AsDouble());
        int64_t v = 0;
        return fits(__builtin_mul_overflow(l.i, r.i, &v), WrapMul(l.i, r.i));
    }
    case Op::Div:
        if (!ints) {
            if (checked && r.AsDouble() == 0.0)
                throw RuntimeException("formula \"" + text_ + "\": division by zero");
            return FormulaValue::Float(l.AsDouble() / r.AsDouble());
        }
        if (r.i == 0) throw RuntimeException("formula \"" + text_ + "\": division by zero");
        if (r.i == -1) return sub(0, l.i);
        return FormulaValue::Int(l.i / r.i);
    case Op::Mod:
        if (!ints) {
            if (checked && r.AsDouble() == 0.0)
                throw RuntimeException("formula \"" + text_ + "\": division by zero");
            return FormulaValue::Float(std::fmod(l.AsDouble(), r.AsDouble()));
        }
        if (r.i == 0) throw RuntimeException("formula \"" + text_ + "\": division by zero");
        if (r.i == -1) return FormulaValue::Int(0);
        return FormulaValue::Int(l.i % r.i);
    case Op::Pow:
        if (ints && r.i >= 0) {
            uint64_t result = 1, base = static_cast<uint64_t>(l.i);
            int64_t exact = 1, exactBase = l.i;
            bool overflowed = false;
            for (int64_t e = r.i; e > 0; e >>= 1) {
                if (e & 1) {
                    result *= base;
                    overflowed = __builtin_mul_overflow(exact, exactBase, &exact) || overflowed;
                }
                base *= base;
                if (e > 1) overflowed = __builtin_mul_overflow(exactBase, exactBase, &exactBase) || overflowed;
            }
            return fits(overflowed, static_cast<int64_t>(result));
        }
        return FormulaValue::Float(std::pow(l.AsDouble(), r.AsDouble()));
    case Op::BitAnd:
        return FormulaValue::Int(l.AsInt() & r.AsInt());
    case Op::BitOr:
        return FormulaValue::Int(l.AsInt() | r.AsInt());
    case Op::BitXor:
        return FormulaValue::Int(l.AsInt() ^ r.AsInt());
    case Op::Shl: {
        int64_t s = r.AsInt();
        if (s < 0 || s > 63) return FormulaValue::Int(0);
        return FormulaValue::Int(static_cast<int64_t>(static_cast<uint64_t>(l.AsInt()) << s));
    }
    case Op::Shr: {
        int64_t s = r.AsInt();
        int64_t v = l.AsInt();
        if (s < 0) return FormulaValue::Int(0);
        if (s > 63) return FormulaValue::Int(v < 0 ? -1 : 0);
        return FormulaValue::Int(v >> s);
    }
    case Op::Eq:
        return boolean(ints ? l.i == r.i : l.AsDouble() == r.AsDouble());
    case Op::Ne:
        return boolean(ints ? l.i != r.i : l.AsDouble() != r.AsDouble());
    case Op::Lt:
        return boolean(ints ? l.i < r.i : l.AsDouble() < r.AsDouble());
    case Op::Gt:
        return boolean(ints ? l.i > r.i : l.AsDouble() > r.AsDouble());
    case Op::Le:
        return boolean(ints ? l.i <= r.i : l.AsDouble() <= r.AsDouble());
    case Op::Ge:
        return boolean(ints ? l.i >= r.i : l.AsDouble() >= r.AsDouble());
    default:
        break;
    }
    throw LogicalErrorException("formula \"" + text_ + "\": internal operator error");
}

} // namespace qorcam::genapi
