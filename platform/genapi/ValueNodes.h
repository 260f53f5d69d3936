// ValueNodes: the nodes that hold or forward a value (Integer, Float, Boolean, String, Command).
#pragma once

#include "genapi/Node.h"

#include <vector>

namespace qorcam::genapi {

/// Where an Integer or Float takes its value: a constant, a pointer, or a
/// table selected by pIndex (ValueIndexed / pValueIndexed with a default).
template <class T> struct ValueSource {
    NumberRef<T> direct;
    std::string indexName;
    NodeBase* index = nullptr;
    struct Entry {
        int64_t index;
        NumberRef<T> ref;
    };
    std::vector<Entry> indexed;
    NumberRef<T> fallback;
};

/// What Integer and Float share: the value source, the limits (constant or
/// pointer), unit and representation. Without own limits the value node's
/// limits apply.
template <class T> class NumberNode : public NodeBase {
public:
    using NodeBase::NodeBase;
    void Resolve(const Resolver& resolver) override;
    void ValueDependencies(std::vector<NodeBase*>& out) const override;
    void Validate() override;
    EAccessMode BaseAccessMode() override;

protected:
    bool ConfigureElement(const pugi::xml_node& child) override;
    NumberRef<T>& Selected();

    ValueSource<T> source_;
    NumberRef<T> min_, max_, inc_;
    ERepresentation representation_ = PureNumber;
    std::string unit_;
    /// Nodes that receive every value written to this one (pValueCopy).
    std::vector<std::string> copyNames_;
    std::vector<NodeBase*> copies_;
};

/// Integer: range, increment and representation over a value source. A write
/// outside [min, max] or off the increment grid throws OutOfRangeException.
class IntegerNode : public NumberNode<int64_t>, public virtual IInteger {
public:
    explicit IntegerNode(NodeMapCore& core) : NumberNode(core, "Integer") {}

    EInterfaceType GetPrincipalInterfaceType() const override { return intfIInteger; }
    INode* GetNode() override { return this; }
    std::string ToString(bool verify = false, bool ignoreCache = false) override;
    void FromString(const std::string& value, bool verify = true) override;
    int64_t GetValue(bool verify = false, bool ignoreCache = false) override;
    void SetValue(int64_t value, bool verify = true) override;
    int64_t GetMin() override;
    int64_t GetMax() override;
    int64_t GetInc() override;
    ERepresentation GetRepresentation() override { return representation_; }
    std::string GetUnit() override { return unit_; }

    int64_t ReadAsInt(bool ignoreCache) override { return GetValue(false, ignoreCache); }
    void WriteAsInt(int64_t value) override { SetValue(value, true); }
    double NumericMin() override { return static_cast<double>(GetMin()); }
    double NumericMax() override { return static_cast<double>(GetMax()); }
};

class FloatNode : public NumberNode<double>, public virtual IFloat {
public:
    explicit FloatNode(NodeMapCore& core) : NumberNode(core, "Float") {}

    EInterfaceType GetPrincipalInterfaceType() const override { return intfIFloat; }
    INode* GetNode() override { return this; }
    std::string ToString(bool verify = false, bool ignoreCache = false) override;
    void FromString(const std::string& value, bool verify = true) override;
    double GetValue(bool verify = false, bool ignoreCache = false) override;
    void SetValue(double value, bool verify = true) override;
    double GetMin() override;
    double GetMax() override;
    bool HasInc() override { return inc_.present; }
    double GetInc() override;
    ERepresentation GetRepresentation() override { return representation_; }
    std::string GetUnit() override { return unit_; }
    EDisplayNotation GetDisplayNotation() override { return notation_; }
    int64_t GetDisplayPrecision() override { return precision_; }

    int64_t ReadAsInt(bool ignoreCache) override;
    void WriteAsInt(int64_t value) override { SetValue(static_cast<double>(value), true); }
    double ReadAsFloat(bool ignoreCache) override { return GetValue(false, ignoreCache); }
    void WriteAsFloat(double value) override { SetValue(value, true); }
    double NumericMin() override { return GetMin(); }
    double NumericMax() override { return GetMax(); }

protected:
    bool ConfigureElement(const pugi::xml_node& child) override;

private:
    EDisplayNotation notation_ = fnAutomatic;
    int64_t precision_ = 6;
};

/// Boolean: true exactly when the underlying value equals OnValue.
class BooleanNode : public NodeBase, public virtual IBoolean {
public:
    explicit BooleanNode(NodeMapCore& core) : NodeBase(core, "Boolean") {}

    EInterfaceType GetPrincipalInterfaceType() const override { return intfIBoolean; }
    INode* GetNode() override { return this; }
    std::string ToString(bool verify = false, bool ignoreCache = false) override;
    void FromString(const std::string& value, bool verify = true) override;
    bool GetValue(bool verify = false, bool ignoreCache = false) override;
    void SetValue(bool value, bool verify = true) override;

    void Resolve(const Resolver& resolver) override;
    void ValueDependencies(std::vector<NodeBase*>& out) const override;
    void Validate() override;
    int64_t ReadAsInt(bool ignoreCache) override { return GetValue(false, ignoreCache) ? 1 : 0; }
    void WriteAsInt(int64_t value) override { SetValue(value != 0, true); }
    EAccessMode BaseAccessMode() override;

protected:
    bool ConfigureElement(const pugi::xml_node& child) override;

private:
    NumberRef<int64_t> value_;
    int64_t on_ = 1, off_ = 0;
};

class StringNode : public NodeBase, public virtual IString {
public:
    explicit StringNode(NodeMapCore& core) : NodeBase(core, "String") {}

    EInterfaceType GetPrincipalInterfaceType() const override { return intfIString; }
    INode* GetNode() override { return this; }
    std::string ToString(bool verify = false, bool ignoreCache = false) override {
        return GetValue(verify, ignoreCache);
    }
    void FromString(const std::string& value, bool verify = true) override { SetValue(value, verify); }
    std::string GetValue(bool verify = false, bool ignoreCache = false) override;
    void SetValue(const std::string& value, bool verify = true) override;
    int64_t GetMaxLength() override;

    void Resolve(const Resolver& resolver) override;
    void ValueDependencies(std::vector<NodeBase*>& out) const override;
    void Validate() override;
    EAccessMode BaseAccessMode() override;

protected:
    bool ConfigureElement(const pugi::xml_node& child) override;

private:
    bool hasValue_ = false;
    std::string value_;
    std::string pValueName_;
    IString* pValue_ = nullptr;
    NodeBase* pValueNode_ = nullptr;
};

/// Command: Execute writes CommandValue; IsDone reads the value again from
/// the device each time and is done once it no longer equals CommandValue
/// (always done when the value cannot be read back).
class CommandNode : public NodeBase, public virtual ICommand {
public:
    explicit CommandNode(NodeMapCore& core) : NodeBase(core, "Command") {}

    EInterfaceType GetPrincipalInterfaceType() const override { return intfICommand; }
    INode* GetNode() override { return this; }
    std::string ToString(bool verify = false, bool ignoreCache = false) override;
    void FromString(const std::string& value, bool verify = true) override;
    void Execute(bool verify = true) override;
    bool IsDone(bool verify = true) override;

    void Resolve(const Resolver& resolver) override;
    void ValueDependencies(std::vector<NodeBase*>& out) const override;
    void Validate() override;
    EAccessMode BaseAccessMode() override;

protected:
    bool ConfigureElement(const pugi::xml_node& child) override;

private:
    NumberRef<int64_t> value_, commandValue_;
};

/// A node of kind Node: no value, only texts and access.
class PlainNode : public NodeBase {
public:
    explicit PlainNode(NodeMapCore& core) : NodeBase(core, "Node") {}
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIBase; }
};

} // namespace qorcam::genapi
