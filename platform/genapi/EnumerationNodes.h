// EnumerationNodes: Enumeration and its EnumEntry nodes.
#pragma once

#include "genapi/Node.h"

#include <vector>

namespace qorcam::genapi {

class EnumerationNode;

/// One entry; its node name is EnumEntry_<enumeration>_<entry>, its
/// symbolic name the entry's own name (or its Symbolic element).
class EnumEntryNode : public NodeBase, public virtual IEnumEntry {
public:
    explicit EnumEntryNode(NodeMapCore& core) : NodeBase(core, "EnumEntry") {}

    EInterfaceType GetPrincipalInterfaceType() const override { return intfIEnumEntry; }
    INode* GetNode() override { return this; }
    std::string ToString(bool = false, bool = false) override { return symbolic_; }
    void FromString(const std::string& value, bool verify = true) override;
    int64_t GetValue() override { return value_; }
    std::string GetSymbolic() const override { return symbolic_; }
    double GetNumericValue() override { return hasNumeric_ ? numeric_ : static_cast<double>(value_); }
    bool IsSelfClearing() override { return selfClearing_; }

    void Validate() override;
    int64_t ReadAsInt(bool) override { return value_; }
    void SetSymbolic(std::string symbolic) { symbolic_ = std::move(symbolic); }

protected:
    bool ConfigureElement(const pugi::xml_node& child) override;

private:
    bool hasValue_ = false;
    int64_t value_ = 0;
    bool hasNumeric_ = false;
    double numeric_ = 0.0;
    bool selfClearing_ = false;
    std::string symbolic_;
};

/// Enumeration: an integer value restricted to its entries. Writing a value
/// that is no entry throws OutOfRangeException; one whose entry is not
/// available throws AccessException.
class EnumerationNode : public NodeBase, public virtual IEnumeration {
public:
    explicit EnumerationNode(NodeMapCore& core) : NodeBase(core, "Enumeration") {}

    EInterfaceType GetPrincipalInterfaceType() const override { return intfIEnumeration; }
    INode* GetNode() override { return this; }
    std::string ToString(bool verify = false, bool ignoreCache = false) override;
    void FromString(const std::string& value, bool verify = true) override;
    NodeList_t GetEntries() override;
    IEnumEntry* GetEntryByName(const std::string& symbolic) override;
    IEnumEntry* GetEntry(int64_t value) override;
    IEnumEntry* GetCurrentEntry(bool verify = false, bool ignoreCache = false) override;
    int64_t GetIntValue(bool verify = false, bool ignoreCache = false) override;
    void SetIntValue(int64_t value, bool verify = true) override;

    void Resolve(const Resolver& resolver) override;
    void ValueDependencies(std::vector<NodeBase*>& out) const override;
    void Validate() override;
    int64_t ReadAsInt(bool ignoreCache) override { return GetIntValue(false, ignoreCache); }
    void WriteAsInt(int64_t value) override { SetIntValue(value, true); }
    EAccessMode BaseAccessMode() override;

protected:
    bool ConfigureElement(const pugi::xml_node& child) override;

private:
    NumberRef<int64_t> value_;
    std::vector<EnumEntryNode*> entries_;
};

} // namespace qorcam::genapi
