// FormulaNodes: SwissKnife, IntSwissKnife, Converter and IntConverter, the computed nodes.
#pragma once

#include "genapi/Formula.h"
#include "genapi/Node.h"

#include <vector>

namespace qorcam::genapi {

/// Variables (pVariable), named constants and named sub-expressions shared
/// by the computed kinds. A formula that does not compile, or names
/// something undefined, leaves the node loadable: reading it throws
/// LogicalErrorException with the reason.
class FormulaNodeBase : public NodeBase {
public:
    using NodeBase::NodeBase;
    void Resolve(const Resolver& resolver) override;
    void ValueDependencies(std::vector<NodeBase*>& out) const override;

protected:
    struct Slot {
        enum Kind { Variable, Constant, Expression, Builtin, Pi, E } kind;
        size_t index;
    };
    struct Compiled {
        std::string name;
        std::string text;
        bool present = false;
        Formula formula;
        std::vector<Slot> slots;
        std::string error;
    };

    bool ConfigureFormulaElement(const pugi::xml_node& child);
    /// Compiles text and binds its names; builtin is FROM or TO (or null).
    void Compile(Compiled& compiled, const char* builtin);
    FormulaValue Run(const Compiled& compiled, FormulaValue builtinValue, bool integerMode, bool ignoreCache);
    FormulaValue ValueOfNode(NodeBase* node, bool ignoreCache);

    /// A variable reads a node's value, or with a ".Min", ".Max" or ".Inc"
    /// suffix on the node's name, that limit of it.
    struct Variable {
        enum Property { Value, Min, Max, Inc };
        std::string name, target;
        NodeBase* node = nullptr;
        Property property = Value;
    };
    FormulaValue ValueOfVariable(const Variable& variable, bool ignoreCache);

    std::vector<Variable> variables_;
    std::vector<std::pair<std::string, FormulaValue>> constants_;
    std::vector<Compiled> expressions_;
    // Integer overflow and division by zero are errors, not wrapped or infinite values.
    bool checked_ = false;
    std::string unit_;
    ERepresentation representation_ = PureNumber;
};

/// SwissKnife and IntSwissKnife: one read-only formula.
class SwissKnifeCore : public FormulaNodeBase {
public:
    using FormulaNodeBase::FormulaNodeBase;
    void Validate() override;
    EAccessMode BaseAccessMode() override { return RO; }

protected:
    bool ConfigureElement(const pugi::xml_node& child) override;
    FormulaValue Compute(bool integerMode, bool ignoreCache);

    Compiled formula_;
};

class IntSwissKnifeNode : public SwissKnifeCore, public virtual IInteger {
public:
    explicit IntSwissKnifeNode(NodeMapCore& core) : SwissKnifeCore(core, "IntSwissKnife") {}

    EInterfaceType GetPrincipalInterfaceType() const override { return intfIInteger; }
    INode* GetNode() override { return this; }
    std::string ToString(bool verify = false, bool ignoreCache = false) override;
    void FromString(const std::string& value, bool verify = true) override;
    int64_t GetValue(bool verify = false, bool ignoreCache = false) override;
    void SetValue(int64_t value, bool verify = true) override;
    int64_t GetMin() override;
    int64_t GetMax() override;
    int64_t GetInc() override { return 1; }
    ERepresentation GetRepresentation() override { return representation_; }
    std::string GetUnit() override { return unit_; }

    int64_t ReadAsInt(bool ignoreCache) override { return GetValue(false, ignoreCache); }
};

class SwissKnifeNode : public SwissKnifeCore, public virtual IFloat {
public:
    explicit SwissKnifeNode(NodeMapCore& core) : SwissKnifeCore(core, "SwissKnife") {}

    EInterfaceType GetPrincipalInterfaceType() const override { return intfIFloat; }
    INode* GetNode() override { return this; }
    std::string ToString(bool verify = false, bool ignoreCache = false) override;
    void FromString(const std::string& value, bool verify = true) override;
    double GetValue(bool verify = false, bool ignoreCache = false) override;
    void SetValue(double value, bool verify = true) override;
    double GetMin() override;
    double GetMax() override;
    bool HasInc() override { return false; }
    double GetInc() override;
    ERepresentation GetRepresentation() override { return representation_; }
    std::string GetUnit() override { return unit_; }
    EDisplayNotation GetDisplayNotation() override { return fnAutomatic; }
    int64_t GetDisplayPrecision() override { return 6; }

    int64_t ReadAsInt(bool ignoreCache) override { return RoundToInt64(GetValue(false, ignoreCache)); }
    double ReadAsFloat(bool ignoreCache) override { return GetValue(false, ignoreCache); }
};

/// Converter and IntConverter: the value is FormulaFrom of the underlying
/// node (TO); a write stores FormulaTo of the new value (FROM) into it. A
/// formula that overflows 64-bit integers or divides by zero is an error.
class ConverterCore : public FormulaNodeBase {
public:
    ConverterCore(NodeMapCore& core, std::string kind) : FormulaNodeBase(core, std::move(kind)) {
        checked_ = true;
    }
    void Resolve(const Resolver& resolver) override;
    void ValueDependencies(std::vector<NodeBase*>& out) const override;
    void Validate() override;
    EAccessMode BaseAccessMode() override;

protected:
    bool ConfigureElement(const pugi::xml_node& child) override;
    FormulaValue ReadConverted(bool integerMode, bool ignoreCache);
    void WriteConverted(FormulaValue value, bool integerMode);
    /// The underlying node's limits taken through FormulaFrom, in order.
    void ConvertedRange(bool integerMode, double& low, double& high);
    /// The same in integers, exact, for an integer node under an integer
    /// formula; false when the underlying node is no integer or an end does
    /// not fit (the caller falls back to ConvertedRange).
    bool ConvertedIntRange(int64_t& low, int64_t& high);

    Compiled to_, from_;
    std::string pValueName_;
    NodeBase* pValue_ = nullptr;
};

class ConverterNode : public ConverterCore, public virtual IFloat {
public:
    explicit ConverterNode(NodeMapCore& core) : ConverterCore(core, "Converter") {}

    EInterfaceType GetPrincipalInterfaceType() const override { return intfIFloat; }
    INode* GetNode() override { return this; }
    std::string ToString(bool verify = false, bool ignoreCache = false) override;
    void FromString(const std::string& value, bool verify = true) override;
    double GetValue(bool verify = false, bool ignoreCache = false) override;
    void SetValue(double value, bool verify = true) override;
    double GetMin() override;
    double GetMax() override;
    bool HasInc() override { return false; }
    double GetInc() override;
    ERepresentation GetRepresentation() override { return representation_; }
    std::string GetUnit() override { return unit_; }
    EDisplayNotation GetDisplayNotation() override { return fnAutomatic; }
    int64_t GetDisplayPrecision() override { return 6; }

    int64_t ReadAsInt(bool ignoreCache) override { return RoundToInt64(GetValue(false, ignoreCache)); }
    void WriteAsInt(int64_t value) override { SetValue(static_cast<double>(value), true); }
    double ReadAsFloat(bool ignoreCache) override { return GetValue(false, ignoreCache); }
    void WriteAsFloat(double value) override { SetValue(value, true); }
    double NumericMin() override { return GetMin(); }
    double NumericMax() override { return GetMax(); }
};

class IntConverterNode : public ConverterCore, public virtual IInteger {
public:
    explicit IntConverterNode(NodeMapCore& core) : ConverterCore(core, "IntConverter") {}

    EInterfaceType GetPrincipalInterfaceType() const override { return intfIInteger; }
    INode* GetNode() override { return this; }
    std::string ToString(bool verify = false, bool ignoreCache = false) override;
    void FromString(const std::string& value, bool verify = true) override;
    int64_t GetValue(bool verify = false, bool ignoreCache = false) override;
    void SetValue(int64_t value, bool verify = true) override;
    int64_t GetMin() override;
    int64_t GetMax() override;
    int64_t GetInc() override { return 1; }
    ERepresentation GetRepresentation() override { return representation_; }
    std::string GetUnit() override { return unit_; }

    int64_t ReadAsInt(bool ignoreCache) override { return GetValue(false, ignoreCache); }
    void WriteAsInt(int64_t value) override { SetValue(value, true); }
    double NumericMin() override { return static_cast<double>(GetMin()); }
    double NumericMax() override { return static_cast<double>(GetMax()); }
};

} // namespace qorcam::genapi
