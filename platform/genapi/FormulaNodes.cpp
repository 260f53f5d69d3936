// FormulaNodes: binding formula names to variables, constants and sub-expressions, and the computed kinds.
#include "genapi/FormulaNodes.h"

#include "genapi/GenericException.h"
#include "genapi/NodeMapCore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace qorcam::genapi {

bool FormulaNodeBase::ConfigureFormulaElement(const pugi::xml_node& child) {
    std::string n = child.name();
    std::string attribute = child.attribute("Name").value();
    if (n == "pVariable") {
        if (attribute.empty()) Fail("<pVariable> without a Name attribute");
        variables_.push_back({attribute, Text(child), nullptr, Variable::Value});
    } else if (n == "Constant") {
        if (attribute.empty()) Fail("<Constant> without a Name attribute");
        int64_t i = 0;
        std::string text = Text(child);
        if (ParseInt64Text(text, i)) {
            constants_.push_back({attribute, FormulaValue::Int(i)});
        } else {
            double d = 0;
            if (!ParseDoubleText(text, d)) Fail("<Constant> '" + text + "' is not a number");
            constants_.push_back({attribute, FormulaValue::Float(d)});
        }
    } else if (n == "Expression") {
        if (attribute.empty()) Fail("<Expression> without a Name attribute");
        Compiled c;
        c.name = attribute;
        c.text = Text(child);
        c.present = true;
        expressions_.push_back(std::move(c));
    } else if (n == "Unit") {
        unit_ = Text(child);
    } else if (n == "Representation") {
        representation_ = ParseRepresentation(Text(child));
    } else {
        return false;
    }
    return true;
}

void FormulaNodeBase::Resolve(const Resolver& r) {
    NodeBase::Resolve(r);
    for (auto& v : variables_) {
        size_t dot = v.target.rfind('.');
        if (!r.Lookup(v.target) && dot != std::string::npos) {
            std::string property = v.target.substr(dot + 1);
            v.property = property == "Min"   ? Variable::Min
                         : property == "Max" ? Variable::Max
                         : property == "Inc" ? Variable::Inc
                                             : Variable::Value;
            if (v.property != Variable::Value || property == "Value") {
                v.node = r.Find(*this, v.target.substr(0, dot), "pVariable");
                continue;
            }
        }
        v.node = r.Find(*this, v.target, "pVariable");
    }
}

void FormulaNodeBase::ValueDependencies(std::vector<NodeBase*>& out) const {
    for (const auto& v : variables_)
        out.push_back(v.node);
}

void FormulaNodeBase::Compile(Compiled& c, const char* builtin) {
    c.slots.clear();
    c.error.clear();
    try {
        c.formula = Formula(c.text);
        for (const std::string& name : c.formula.Names()) {
            Slot slot{Slot::Pi, 0};
            bool found = false;
            for (size_t i = 0; i < variables_.size() && !found; ++i)
                if (variables_[i].name == name) slot = {Slot::Variable, i}, found = true;
            for (size_t i = 0; i < constants_.size() && !found; ++i)
                if (constants_[i].first == name) slot = {Slot::Constant, i}, found = true;
            for (size_t i = 0; i < expressions_.size() && !found; ++i)
                if (expressions_[i].name == name) slot = {Slot::Expression, i}, found = true;
            if (!found && builtin && name == builtin) slot = {Slot::Builtin, 0}, found = true;
            if (!found && name == "PI") slot = {Slot::Pi, 0}, found = true;
            if (!found && name == "E") slot = {Slot::E, 0}, found = true;
            if (!found)
                throw LogicalErrorException("formula \"" + c.text + "\": unknown name '" + name + "'");
            c.slots.push_back(slot);
        }
    } catch (const GenericException& e) {
        c.error = "node '" + name_ + "': " + e.what();
    }
}

FormulaValue FormulaNodeBase::ValueOfVariable(const Variable& v, bool ignoreCache) {
    bool isFloat = v.node->GetPrincipalInterfaceType() == intfIFloat;
    NodeMapCore::Depth depth(core_, *this);
    switch (v.property) {
    case Variable::Value:
        break;
    case Variable::Min:
        if (auto* i = isFloat ? nullptr : dynamic_cast<IInteger*>(v.node)) return FormulaValue::Int(i->GetMin());
        return isFloat ? FormulaValue::Float(v.node->NumericMin())
                       : FormulaValue::Int(RoundToInt64(v.node->NumericMin()));
    case Variable::Max:
        if (auto* i = isFloat ? nullptr : dynamic_cast<IInteger*>(v.node)) return FormulaValue::Int(i->GetMax());
        return isFloat ? FormulaValue::Float(v.node->NumericMax())
                       : FormulaValue::Int(RoundToInt64(v.node->NumericMax()));
    case Variable::Inc:
        if (auto* i = dynamic_cast<IInteger*>(v.node)) return FormulaValue::Int(i->GetInc());
        if (auto* f = dynamic_cast<IFloat*>(v.node)) return FormulaValue::Float(f->GetInc());
        throw LogicalErrorException("node '" + name_ + "': '" + v.target + "' has no increment");
    }
    return ValueOfNode(v.node, ignoreCache);
}

FormulaValue FormulaNodeBase::ValueOfNode(NodeBase* node, bool ignoreCache) {
    if (node->GetPrincipalInterfaceType() == intfIFloat)
        return FormulaValue::Float(FloatOf(node, ignoreCache));
    return FormulaValue::Int(IntOf(node, ignoreCache));
}

FormulaValue FormulaNodeBase::Run(const Compiled& c, FormulaValue builtinValue, bool integerMode,
                                  bool ignoreCache) {
    if (!c.present) Fail("has no formula");
    if (!c.error.empty()) throw LogicalErrorException(c.error);
    NodeMapCore::Depth depth(core_, *this);
    auto lookup = [&](size_t index) -> FormulaValue {
        const Slot& slot = c.slots[index];
        switch (slot.kind) {
        case Slot::Variable:
            return ValueOfVariable(variables_[slot.index], ignoreCache);
        case Slot::Constant:
            return constants_[slot.index].second;
        case Slot::Expression:
            return Run(expressions_[slot.index], builtinValue, integerMode, ignoreCache);
        case Slot::Builtin:
            return builtinValue;
        case Slot::Pi:
            return FormulaValue::Float(3.14159265358979323846);
        case Slot::E:
            return FormulaValue::Float(2.71828182845904523536);
        }
        return FormulaValue::Int(0);
    };
    return c.formula.Evaluate(lookup, integerMode, checked_);
}

// ---- SwissKnife core ----

bool SwissKnifeCore::ConfigureElement(const pugi::xml_node& child) {
    if (ConfigureFormulaElement(child)) return true;
    if (std::string(child.name()) == "Formula") {
        formula_.text = Text(child);
        formula_.present = true;
        return true;
    }
    return NodeBase::ConfigureElement(child);
}

void SwissKnifeCore::Validate() {
    if (!formula_.present) Fail(Kind() + " has no <Formula>");
    for (auto& e : expressions_)
        Compile(e, nullptr);
    Compile(formula_, nullptr);
}

FormulaValue SwissKnifeCore::Compute(bool integerMode, bool ignoreCache) {
    CheckReadable();
    return Run(formula_, FormulaValue::Int(0), integerMode, ignoreCache);
}

// ---- IntSwissKnife ----

int64_t IntSwissKnifeNode::GetValue(bool, bool ignoreCache) {
    auto lock = Lock();
    return Compute(true, ignoreCache).AsInt();
}

void IntSwissKnifeNode::SetValue(int64_t, bool) {
    auto lock = Lock();
    CheckWritable();
}

int64_t IntSwissKnifeNode::GetMin() {
    return std::numeric_limits<int64_t>::min();
}
int64_t IntSwissKnifeNode::GetMax() {
    return std::numeric_limits<int64_t>::max();
}

std::string IntSwissKnifeNode::ToString(bool verify, bool ignoreCache) {
    return std::to_string(GetValue(verify, ignoreCache));
}

void IntSwissKnifeNode::FromString(const std::string&, bool) {
    SetValue(0);
}

// ---- SwissKnife ----

double SwissKnifeNode::GetValue(bool, bool ignoreCache) {
    auto lock = Lock();
    return Compute(false, ignoreCache).AsDouble();
}

void SwissKnifeNode::SetValue(double, bool) {
    auto lock = Lock();
    CheckWritable();
}

double SwissKnifeNode::GetMin() {
    return -std::numeric_limits<double>::max();
}
double SwissKnifeNode::GetMax() {
    return std::numeric_limits<double>::max();
}
double SwissKnifeNode::GetInc() {
    throw LogicalErrorException("node '" + name_ + "' has no increment");
}

std::string SwissKnifeNode::ToString(bool verify, bool ignoreCache) {
    return FormatDouble(GetValue(verify, ignoreCache));
}

void SwissKnifeNode::FromString(const std::string&, bool) {
    SetValue(0.0);
}

// ---- Converter core ----

bool ConverterCore::ConfigureElement(const pugi::xml_node& child) {
    if (ConfigureFormulaElement(child)) return true;
    std::string n = child.name();
    if (n == "FormulaTo") {
        to_.text = Text(child);
        to_.present = true;
    } else if (n == "FormulaFrom") {
        from_.text = Text(child);
        from_.present = true;
    } else if (n == "pValue") {
        pValueName_ = Text(child);
    } else if (n == "Slope" || n == "IsLinear") {
        // The range is taken from both ends of the underlying range, so the
        // slope hint is not needed.
    } else {
        return NodeBase::ConfigureElement(child);
    }
    return true;
}

void ConverterCore::Resolve(const Resolver& r) {
    FormulaNodeBase::Resolve(r);
    pValue_ = r.Find(*this, pValueName_, "pValue");
}

void ConverterCore::ValueDependencies(std::vector<NodeBase*>& out) const {
    FormulaNodeBase::ValueDependencies(out);
    if (pValue_) out.push_back(pValue_);
}

void ConverterCore::Validate() {
    if (!to_.present || !from_.present) Fail(Kind() + " needs both <FormulaTo> and <FormulaFrom>");
    for (auto& e : expressions_)
        Compile(e, nullptr);
    Compile(to_, "FROM");
    Compile(from_, "TO");
}

EAccessMode ConverterCore::BaseAccessMode() {
    return pValue_->GetAccessMode();
}

FormulaValue ConverterCore::ReadConverted(bool integerMode, bool ignoreCache) {
    FormulaValue to = ValueOfNode(pValue_, ignoreCache);
    return Run(from_, to, integerMode, ignoreCache);
}

void ConverterCore::WriteConverted(FormulaValue value, bool integerMode) {
    FormulaValue raw = Run(to_, value, integerMode, false);
    if (pValue_->GetPrincipalInterfaceType() == intfIFloat)
        WriteFloat(pValue_, raw.AsDouble());
    else
        WriteInt(pValue_, raw.AsInt());
}

void ConverterCore::ConvertedRange(bool integerMode, double& low, double& high) {
    low = -std::numeric_limits<double>::max();
    high = std::numeric_limits<double>::max();
    try {
        double a = Run(from_, FormulaValue::Float(pValue_->NumericMin()), integerMode, false).AsDouble();
        double b = Run(from_, FormulaValue::Float(pValue_->NumericMax()), integerMode, false).AsDouble();
        if (std::isnan(a) || std::isnan(b)) return;
        low = std::fmin(a, b);
        high = std::fmax(a, b);
    } catch (const GenericException&) {
        // An underlying range the formula cannot take (a division by zero at
        // one end) leaves the converter unbounded rather than unreadable.
    }
}

bool ConverterCore::ConvertedIntRange(int64_t& low, int64_t& high) {
    auto* integer = pValue_->GetPrincipalInterfaceType() == intfIFloat ? nullptr : dynamic_cast<IInteger*>(pValue_);
    if (integer == nullptr) return false;
    try {
        const FormulaValue a = Run(from_, FormulaValue::Int(integer->GetMin()), true, false);
        const FormulaValue b = Run(from_, FormulaValue::Int(integer->GetMax()), true, false);
        if (!a.isInt || !b.isInt) return false;
        low = std::min(a.i, b.i);
        high = std::max(a.i, b.i);
        return true;
    } catch (const GenericException&) {
        return false;
    }
}

// ---- Converter ----

double ConverterNode::GetValue(bool, bool ignoreCache) {
    auto lock = Lock();
    CheckReadable();
    return ReadConverted(false, ignoreCache).AsDouble();
}

void ConverterNode::SetValue(double value, bool) {
    auto lock = Lock();
    CheckWritable();
    if (std::isnan(value)) throw InvalidArgumentException("node '" + name_ + "': NaN is not a value");
    double low, high;
    ConvertedRange(false, low, high);
    if (value < low || value > high)
        throw OutOfRangeException("node '" + name_ + "': value " + FormatDouble(value) + " must be between " +
                                  FormatDouble(low) + " and " + FormatDouble(high));
    WriteConverted(FormulaValue::Float(value), false);
    NotifyWritten();
}

double ConverterNode::GetMin() {
    auto lock = Lock();
    double low, high;
    ConvertedRange(false, low, high);
    return low;
}

double ConverterNode::GetMax() {
    auto lock = Lock();
    double low, high;
    ConvertedRange(false, low, high);
    return high;
}

double ConverterNode::GetInc() {
    throw LogicalErrorException("node '" + name_ + "' has no increment");
}

std::string ConverterNode::ToString(bool verify, bool ignoreCache) {
    return FormatDouble(GetValue(verify, ignoreCache));
}

void ConverterNode::FromString(const std::string& value, bool verify) {
    double v = 0;
    if (!ParseDoubleText(value, v))
        throw InvalidArgumentException("node '" + name_ + "': '" + value + "' is not a number");
    SetValue(v, verify);
}

// ---- IntConverter ----

int64_t IntConverterNode::GetValue(bool, bool ignoreCache) {
    auto lock = Lock();
    CheckReadable();
    return ReadConverted(true, ignoreCache).AsInt();
}

void IntConverterNode::SetValue(int64_t value, bool) {
    auto lock = Lock();
    CheckWritable();
    int64_t low = GetMin(), high = GetMax();
    if (value < low || value > high)
        throw OutOfRangeException("node '" + name_ + "': value " + std::to_string(value) +
                                  " must be between " + std::to_string(low) + " and " + std::to_string(high));
    WriteConverted(FormulaValue::Int(value), true);
    NotifyWritten();
}

int64_t IntConverterNode::GetMin() {
    auto lock = Lock();
    int64_t low, high;
    if (ConvertedIntRange(low, high)) return low;
    double lowFloat, highFloat;
    ConvertedRange(true, lowFloat, highFloat);
    return RoundToInt64(lowFloat);
}

int64_t IntConverterNode::GetMax() {
    auto lock = Lock();
    int64_t low, high;
    if (ConvertedIntRange(low, high)) return high;
    double lowFloat, highFloat;
    ConvertedRange(true, lowFloat, highFloat);
    return RoundToInt64(highFloat);
}

std::string IntConverterNode::ToString(bool verify, bool ignoreCache) {
    return std::to_string(GetValue(verify, ignoreCache));
}

void IntConverterNode::FromString(const std::string& value, bool verify) {
    int64_t v = 0;
    if (!ParseInt64Text(value, v))
        throw InvalidArgumentException("node '" + name_ + "': '" + value + "' is not an integer");
    SetValue(v, verify);
}

} // namespace qorcam::genapi
