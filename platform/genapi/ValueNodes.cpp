// ValueNodes: Integer, Float, Boolean, String and Command nodes.
#include "genapi/ValueNodes.h"

#include "genapi/Formula.h"
#include "genapi/GenericException.h"
#include "genapi/NodeMapCore.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <type_traits>

namespace qorcam::genapi {

namespace {

template <class T>
bool ConfigureSource(NodeBase& node, const pugi::xml_node& child, ValueSource<T>& source,
                     const std::function<NumberRef<T>(const pugi::xml_node&, bool pointer)>& make) {
    std::string n = child.name();
    if (n == "Value" || n == "pValue") {
        source.direct = make(child, n == "pValue");
    } else if (n == "pIndex") {
        source.indexName = NodeBase::Text(child);
    } else if (n == "ValueIndexed" || n == "pValueIndexed") {
        int64_t index = 0;
        if (!ParseInt64Text(child.attribute("Index").value(), index))
            throw LogicalErrorException("node '" + node.Name() + "': <" + n +
                                        "> has no integer Index attribute");
        source.indexed.push_back({index, make(child, n == "pValueIndexed")});
    } else if (n == "ValueDefault" || n == "pValueDefault") {
        source.fallback = make(child, n == "pValueDefault");
    } else {
        return false;
    }
    return true;
}

template <class T>
NumberRef<T>& SelectSource(NodeBase& node, ValueSource<T>& source,
                           const std::function<int64_t(NodeBase*)>& index) {
    if (source.index) {
        int64_t selected = index(source.index);
        for (auto& entry : source.indexed)
            if (entry.index == selected) return entry.ref;
        if (source.fallback.present) return source.fallback;
        throw OutOfRangeException("node '" + node.Name() + "': index " + std::to_string(selected) +
                                  " has no value and there is no default");
    }
    return source.direct;
}

template <class T> void SourceDependencies(const ValueSource<T>& source, std::vector<NodeBase*>& out) {
    if (source.direct.node) out.push_back(source.direct.node);
    if (source.index) out.push_back(source.index);
    for (const auto& e : source.indexed)
        if (e.ref.node) out.push_back(e.ref.node);
    if (source.fallback.node) out.push_back(source.fallback.node);
}

} // namespace

// ---- Integer and Float ----

template <class T> bool NumberNode<T>::ConfigureElement(const pugi::xml_node& child) {
    auto make = [this](const pugi::xml_node& e, bool pointer) {
        NumberRef<T> ref;
        ref.present = true;
        if (pointer)
            ref.name = Text(e);
        else if constexpr (std::is_same_v<T, double>)
            ref.constant = ParseFloat(e);
        else
            ref.constant = ParseInt(e);
        return ref;
    };
    if (ConfigureSource<T>(*this, child, source_, make)) return true;
    if (ConfigureNumber(child, "Min", "pMin", min_) || ConfigureNumber(child, "Max", "pMax", max_) ||
        ConfigureNumber(child, "Inc", "pInc", inc_))
        return true;
    std::string n = child.name();
    if (n == "Representation")
        representation_ = ParseRepresentation(Text(child));
    else if (n == "Unit")
        unit_ = Text(child);
    else if (n == "pValueCopy")
        copyNames_.push_back(Text(child));
    else
        return NodeBase::ConfigureElement(child);
    return true;
}

template <class T> void NumberNode<T>::Resolve(const Resolver& r) {
    NodeBase::Resolve(r);
    for (const auto& name : copyNames_)
        copies_.push_back(r.Find(*this, name, "pValueCopy"));
    ResolveRef(r, source_.direct, "pValue");
    source_.index = r.FindOptional(*this, source_.indexName, "pIndex");
    for (auto& e : source_.indexed)
        ResolveRef(r, e.ref, "pValueIndexed");
    ResolveRef(r, source_.fallback, "pValueDefault");
    ResolveRef(r, min_, "pMin");
    ResolveRef(r, max_, "pMax");
    ResolveRef(r, inc_, "pInc");
}

template <class T> void NumberNode<T>::Validate() {
    if (!source_.direct.present && !source_.index)
        Fail(Kind() + " has neither <Value>, <pValue> nor <pIndex>");
}

template <class T> void NumberNode<T>::ValueDependencies(std::vector<NodeBase*>& out) const {
    SourceDependencies(source_, out);
}

template <class T> NumberRef<T>& NumberNode<T>::Selected() {
    return SelectSource<T>(*this, source_, [this](NodeBase* n) { return IntOf(n, false); });
}

template <class T> EAccessMode NumberNode<T>::BaseAccessMode() {
    NumberRef<T>* ref = nullptr;
    try {
        ref = &Selected();
    } catch (const OutOfRangeException&) {
        return NA; // the selector stands on an index without a value
    }
    return ref->node ? ref->node->GetAccessMode() : RW;
}

template class NumberNode<int64_t>;
template class NumberNode<double>;

int64_t IntegerNode::GetValue(bool verify, bool ignoreCache) {
    auto lock = Lock();
    CheckReadable();
    int64_t v = Eval(Selected(), 0, ignoreCache);
    if (verify && (v < GetMin() || v > GetMax()))
        throw OutOfRangeException("node '" + name_ + "': value " + std::to_string(v) +
                                  " is outside its range");
    return v;
}

void IntegerNode::SetValue(int64_t value, bool) {
    auto lock = Lock();
    CheckWritable();
    int64_t mn = GetMin(), mx = GetMax(), inc = GetInc();
    if (value < mn || value > mx)
        throw OutOfRangeException("node '" + name_ + "': value " + std::to_string(value) +
                                  " must be between " + std::to_string(mn) + " and " + std::to_string(mx));
    if (inc > 1 &&
        (static_cast<uint64_t>(value) - static_cast<uint64_t>(mn)) % static_cast<uint64_t>(inc) != 0)
        throw OutOfRangeException("node '" + name_ + "': value " + std::to_string(value) + " is not " +
                                  std::to_string(mn) + " plus a multiple of " + std::to_string(inc));
    NumberRef<int64_t>& ref = Selected();
    if (ref.node)
        WriteInt(ref.node, value);
    else
        ref.constant = value;
    for (NodeBase* copy : copies_)
        WriteInt(copy, value);
    NotifyWritten();
}

int64_t IntegerNode::GetMin() {
    auto lock = Lock();
    if (min_.present) return Eval(min_, 0);
    NumberRef<int64_t>& ref = Selected();
    if (ref.node) return RoundToInt64(ref.node->NumericMin());
    return std::numeric_limits<int64_t>::min();
}

int64_t IntegerNode::GetMax() {
    auto lock = Lock();
    if (max_.present) return Eval(max_, 0);
    NumberRef<int64_t>& ref = Selected();
    if (ref.node) return RoundToInt64(ref.node->NumericMax());
    return std::numeric_limits<int64_t>::max();
}

int64_t IntegerNode::GetInc() {
    auto lock = Lock();
    int64_t inc = 1;
    if (inc_.present)
        inc = Eval(inc_, 1);
    else if (auto* target = dynamic_cast<IInteger*>(Selected().node))
        inc = target->GetInc();
    return inc > 0 ? inc : 1;
}

std::string IntegerNode::ToString(bool verify, bool ignoreCache) {
    return std::to_string(GetValue(verify, ignoreCache));
}

void IntegerNode::FromString(const std::string& value, bool verify) {
    int64_t v = 0;
    if (!ParseInt64Text(value, v))
        throw InvalidArgumentException("node '" + name_ + "': '" + value + "' is not an integer");
    SetValue(v, verify);
}

// ---- Float ----

bool FloatNode::ConfigureElement(const pugi::xml_node& child) {
    std::string n = child.name();
    if (n == "DisplayNotation") {
        std::string v = Text(child);
        notation_ = v == "Fixed" ? fnFixed : v == "Scientific" ? fnScientific : fnAutomatic;
    } else if (n == "DisplayPrecision")
        precision_ = ParseInt(child);
    else
        return NumberNode<double>::ConfigureElement(child);
    return true;
}

double FloatNode::GetValue(bool verify, bool ignoreCache) {
    auto lock = Lock();
    CheckReadable();
    double v = Eval(Selected(), 0.0, ignoreCache);
    if (verify && (v < GetMin() || v > GetMax()))
        throw OutOfRangeException("node '" + name_ + "': value " + FormatDouble(v) + " is outside its range");
    return v;
}

int64_t FloatNode::ReadAsInt(bool ignoreCache) {
    return RoundToInt64(GetValue(false, ignoreCache));
}

void FloatNode::SetValue(double value, bool) {
    auto lock = Lock();
    CheckWritable();
    if (std::isnan(value)) throw InvalidArgumentException("node '" + name_ + "': NaN is not a value");
    double mn = GetMin(), mx = GetMax();
    if (value < mn || value > mx)
        throw OutOfRangeException("node '" + name_ + "': value " + FormatDouble(value) + " must be between " +
                                  FormatDouble(mn) + " and " + FormatDouble(mx));
    NumberRef<double>& ref = Selected();
    if (ref.node)
        WriteFloat(ref.node, value);
    else
        ref.constant = value;
    for (NodeBase* copy : copies_)
        WriteFloat(copy, value);
    NotifyWritten();
}

double FloatNode::GetMin() {
    auto lock = Lock();
    if (min_.present) return Eval(min_, 0.0);
    NumberRef<double>& ref = Selected();
    return ref.node ? ref.node->NumericMin() : -std::numeric_limits<double>::max();
}

double FloatNode::GetMax() {
    auto lock = Lock();
    if (max_.present) return Eval(max_, 0.0);
    NumberRef<double>& ref = Selected();
    return ref.node ? ref.node->NumericMax() : std::numeric_limits<double>::max();
}

double FloatNode::GetInc() {
    auto lock = Lock();
    if (!inc_.present) throw LogicalErrorException("node '" + name_ + "' has no increment");
    return Eval(inc_, 0.0);
}

std::string FloatNode::ToString(bool verify, bool ignoreCache) {
    return FormatDouble(GetValue(verify, ignoreCache));
}

void FloatNode::FromString(const std::string& value, bool verify) {
    double v = 0;
    if (!ParseDoubleText(value, v))
        throw InvalidArgumentException("node '" + name_ + "': '" + value + "' is not a number");
    SetValue(v, verify);
}

// ---- Boolean ----

bool BooleanNode::ConfigureElement(const pugi::xml_node& child) {
    if (ConfigureNumber(child, "Value", "pValue", value_)) return true;
    std::string n = child.name();
    if (n == "OnValue")
        on_ = ParseInt(child);
    else if (n == "OffValue")
        off_ = ParseInt(child);
    else
        return NodeBase::ConfigureElement(child);
    return true;
}

void BooleanNode::Resolve(const Resolver& r) {
    NodeBase::Resolve(r);
    ResolveRef(r, value_, "pValue");
}

void BooleanNode::Validate() {
    if (!value_.present) Fail("Boolean has neither <Value> nor <pValue>");
}

void BooleanNode::ValueDependencies(std::vector<NodeBase*>& out) const {
    if (value_.node) out.push_back(value_.node);
}

EAccessMode BooleanNode::BaseAccessMode() {
    return value_.node ? value_.node->GetAccessMode() : RW;
}

bool BooleanNode::GetValue(bool, bool ignoreCache) {
    auto lock = Lock();
    CheckReadable();
    return Eval(value_, 0, ignoreCache) == on_;
}

void BooleanNode::SetValue(bool value, bool) {
    auto lock = Lock();
    CheckWritable();
    if (value_.node)
        WriteInt(value_.node, value ? on_ : off_);
    else
        value_.constant = value ? on_ : off_;
    NotifyWritten();
}

std::string BooleanNode::ToString(bool verify, bool ignoreCache) {
    return GetValue(verify, ignoreCache) ? "true" : "false";
}

void BooleanNode::FromString(const std::string& value, bool verify) {
    if (value == "true" || value == "True" || value == "TRUE" || value == "1")
        SetValue(true, verify);
    else if (value == "false" || value == "False" || value == "FALSE" || value == "0")
        SetValue(false, verify);
    else
        throw InvalidArgumentException("node '" + name_ + "': '" + value + "' is neither true nor false");
}

// ---- String ----

bool StringNode::ConfigureElement(const pugi::xml_node& child) {
    std::string n = child.name();
    if (n == "Value") {
        hasValue_ = true;
        value_ = child.text().get();
    } else if (n == "pValue")
        pValueName_ = Text(child);
    else
        return NodeBase::ConfigureElement(child);
    return true;
}

void StringNode::Resolve(const Resolver& r) {
    NodeBase::Resolve(r);
    pValueNode_ = r.FindOptional(*this, pValueName_, "pValue");
    if (pValueNode_) {
        pValue_ = dynamic_cast<IString*>(pValueNode_);
        if (!pValue_) Fail("<pValue> '" + pValueName_ + "' is not a string node");
    }
}

void StringNode::Validate() {
    if (!hasValue_ && !pValueNode_) Fail("String has neither <Value> nor <pValue>");
}

void StringNode::ValueDependencies(std::vector<NodeBase*>& out) const {
    if (pValueNode_) out.push_back(pValueNode_);
}

EAccessMode StringNode::BaseAccessMode() {
    return pValueNode_ ? pValueNode_->GetAccessMode() : RW;
}

std::string StringNode::GetValue(bool verify, bool ignoreCache) {
    auto lock = Lock();
    CheckReadable();
    if (!pValue_) return value_;
    NodeMapCore::Depth depth(core_, *this);
    return pValue_->GetValue(verify, ignoreCache);
}

void StringNode::SetValue(const std::string& value, bool verify) {
    auto lock = Lock();
    CheckWritable();
    if (pValue_) {
        NodeMapCore::Depth depth(core_, *this);
        pValue_->SetValue(value, verify);
    } else {
        value_ = value;
    }
    NotifyWritten();
}

int64_t StringNode::GetMaxLength() {
    auto lock = Lock();
    if (pValue_) {
        NodeMapCore::Depth depth(core_, *this);
        return pValue_->GetMaxLength();
    }
    return std::numeric_limits<int64_t>::max();
}

// ---- Command ----

bool CommandNode::ConfigureElement(const pugi::xml_node& child) {
    if (ConfigureNumber(child, "Value", "pValue", value_) ||
        ConfigureNumber(child, "CommandValue", "pCommandValue", commandValue_))
        return true;
    return NodeBase::ConfigureElement(child);
}

void CommandNode::Resolve(const Resolver& r) {
    NodeBase::Resolve(r);
    ResolveRef(r, value_, "pValue");
    ResolveRef(r, commandValue_, "pCommandValue");
}

void CommandNode::Validate() {
    if (!value_.present) Fail("Command has neither <Value> nor <pValue>");
    if (!commandValue_.present) Fail("Command has neither <CommandValue> nor <pCommandValue>");
}

void CommandNode::ValueDependencies(std::vector<NodeBase*>& out) const {
    if (value_.node) out.push_back(value_.node);
    if (commandValue_.node) out.push_back(commandValue_.node);
}

EAccessMode CommandNode::BaseAccessMode() {
    return value_.node ? value_.node->GetAccessMode() : RW;
}

void CommandNode::Execute(bool) {
    auto lock = Lock();
    CheckWritable();
    int64_t command = Eval(commandValue_, 0);
    if (value_.node)
        WriteInt(value_.node, command);
    else
        value_.constant = command;
    NotifyWritten();
}

bool CommandNode::IsDone(bool) {
    auto lock = Lock();
    EAccessMode mode = GetAccessMode();
    if (!IsImplemented(mode) || mode == NA)
        throw AccessException("node '" + name_ + "' is not available (access mode " + AccessModeName(mode) +
                              ")");
    if (!value_.node) return true;
    if (!IsReadable(value_.node->GetAccessMode())) return true;
    // The device clears the value when the command has finished: ask it again.
    value_.node->InvalidateNode();
    return IntOf(value_.node, true) != Eval(commandValue_, 0);
}

std::string CommandNode::ToString(bool, bool) {
    throw LogicalErrorException("node '" + name_ + "' is a command and has no value text");
}

void CommandNode::FromString(const std::string&, bool) {
    throw LogicalErrorException("node '" + name_ + "' is a command and has no value text");
}

} // namespace qorcam::genapi
