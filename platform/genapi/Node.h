// Node: NodeBase, what every node of a map shares (texts, access rules, invalidation).
#pragma once

#include "genapi/Interfaces.h"

#include <pugixml.hpp>

#include <mutex>
#include <string>
#include <vector>

namespace qorcam::genapi {

class NodeMapCore;
class NodeBase;

/// Turns the names a description refers to into nodes once every node exists.
class Resolver {
public:
    explicit Resolver(NodeMapCore& core) : core_(core) {}
    /// Throws LogicalErrorException naming the node, the element and the missing target.
    NodeBase* Find(const NodeBase& from, const std::string& name, const char* element) const;
    /// As Find, but an empty name gives null.
    NodeBase* FindOptional(const NodeBase& from, const std::string& name, const char* element) const;
    /// The node of that name, or null.
    NodeBase* Lookup(const std::string& name) const;

private:
    NodeMapCore& core_;
};

/// A number given either as a constant or as a node to read it from.
template <class T> struct NumberRef {
    bool present = false;
    T constant{};
    std::string name;
    NodeBase* node = nullptr;
};

/// Guarantees of every node: all public calls hold the map's lock; reads and
/// writes check the access mode first and fail with AccessException; a value
/// that depends on itself, however indirectly, fails with a clear error
/// instead of recursing without end.
class NodeBase : public virtual INode, public virtual ISelector {
public:
    NodeBase(NodeMapCore& core, std::string kind);
    ~NodeBase() override = default;
    NodeBase(const NodeBase&) = delete;
    NodeBase& operator=(const NodeBase&) = delete;

    /// An element's text without surrounding blanks.
    static std::string Text(const pugi::xml_node& element);

    const std::string& Name() const { return name_; }
    const std::string& Kind() const { return kind_; }
    void SetName(std::string name) { name_ = std::move(name); }

    /// Reads the node's elements; may be called more than once (a StructEntry
    /// takes its register's elements first, then its own).
    void Configure(const pugi::xml_node& element);
    /// Reads only the child elements, leaving out those named skip.
    void ConfigureChildren(const pugi::xml_node& element, const char* skip);
    virtual void Resolve(const Resolver& resolver);
    /// Nodes this node's value is computed from (not access or limits).
    virtual void ValueDependencies(std::vector<NodeBase*>& out) const;
    /// Checks made once the whole map is resolved (sizes, formulas).
    virtual void Validate() {}

    // The value protocol between nodes; each goes through the target's public,
    // checked interface. The defaults throw: the node has no such value.
    virtual int64_t ReadAsInt(bool ignoreCache);
    virtual void WriteAsInt(int64_t value);
    virtual double ReadAsFloat(bool ignoreCache);
    virtual void WriteAsFloat(double value);
    virtual double NumericMin();
    virtual double NumericMax();

    /// The mode the node's own kind gives, before availability, locks and
    /// imposed modes are applied.
    virtual EAccessMode BaseAccessMode() { return RO; }
    virtual void InvalidateOwnCache() {}
    virtual bool OwnCachable() const { return true; }
    void SetCachable(bool cachable) { cachable_ = cachable; }
    void MarkFeature() { isFeature_ = true; }
    void AddSelecting(NodeBase* node) { selecting_.push_back(node); }
    void AddInvalidates(NodeBase* node) { invalidates_.push_back(node); }
    const std::vector<NodeBase*>& Invalidators() const { return invalidators_; }
    const std::vector<NodeBase*>& Selected() const { return selectedNodes_; }
    void InvalidateRecursive(uint64_t epoch);
    /// Polling: true when the node's polling time has run out and it was refreshed.
    void AdvancePolling(int64_t elapsed);

    // INode
    std::string GetName(bool fullQualified = false) const override;
    std::string GetNameSpace() const override { return nameSpace_; }
    EVisibility GetVisibility() const override { return visibility_; }
    std::string GetDisplayName() const override { return displayName_.empty() ? name_ : displayName_; }
    std::string GetDescription() const override { return description_; }
    std::string GetToolTip() const override { return toolTip_; }
    bool IsCachable() const override { return cachable_; }
    ECachingMode GetCachingMode() const override;
    int64_t GetPollingTime() const override { return pollingTime_; }
    bool IsStreamable() const override { return streamable_; }
    bool IsFeature() const override { return isFeature_; }
    bool IsDeprecated() const override { return deprecated_; }
    void InvalidateNode() override;
    INodeMap* GetNodeMap() const override;
    EAccessMode GetAccessMode() override;

    // ISelector
    bool IsSelector() override;
    NodeList_t GetSelectedFeatures() override;
    NodeList_t GetSelectingFeatures() override;

protected:
    /// Handles one child element of the node; false when it is not the kind's.
    virtual bool ConfigureElement(const pugi::xml_node& child);

    std::unique_lock<std::recursive_mutex> Lock() const;
    void CheckReadable();
    void CheckWritable();
    /// Called after a successful write: nodes that name this one as their
    /// invalidator forget their cached values.
    void NotifyWritten();
    [[noreturn]] void Fail(const std::string& what) const;

    // Cross-node reads and writes with the loop guard.
    int64_t IntOf(NodeBase* node, bool ignoreCache);
    double FloatOf(NodeBase* node, bool ignoreCache);
    void WriteInt(NodeBase* node, int64_t value);
    void WriteFloat(NodeBase* node, double value);
    bool TruthOf(NodeBase* node);
    int64_t Eval(const NumberRef<int64_t>& ref, int64_t fallback, bool ignoreCache = false);
    double Eval(const NumberRef<double>& ref, double fallback, bool ignoreCache = false);
    void ResolveRef(const Resolver& resolver, NumberRef<int64_t>& ref, const char* element);
    void ResolveRef(const Resolver& resolver, NumberRef<double>& ref, const char* element);
    /// Reads element text as a constant or a pointer into ref, by the element's name.
    bool ConfigureNumber(const pugi::xml_node& child, const char* constName, const char* pointerName,
                         NumberRef<int64_t>& ref);
    bool ConfigureNumber(const pugi::xml_node& child, const char* constName, const char* pointerName,
                         NumberRef<double>& ref);

    int64_t ParseInt(const pugi::xml_node& element) const;
    double ParseFloat(const pugi::xml_node& element) const;

    NodeMapCore& core_;
    std::string name_;
    std::string kind_;
    int64_t pollingTime_ = -1;
    ECachingMode caching_ = WriteThrough;
    bool hasCachingElement_ = false;

private:
    std::string nameSpace_ = "Custom";
    std::string displayName_, description_, toolTip_;
    EVisibility visibility_ = Beginner;
    bool streamable_ = false;
    bool deprecated_ = false;
    bool isFeature_ = false;
    bool cachable_ = true;
    EAccessMode imposed_ = _UndefinedAccesMode;
    std::string isImplementedName_, isAvailableName_, isLockedName_, blockPollingName_;
    NodeBase* isImplemented_ = nullptr;
    NodeBase* isAvailable_ = nullptr;
    NodeBase* isLocked_ = nullptr;
    NodeBase* blockPolling_ = nullptr;
    std::vector<std::string> selectedNames_, invalidatorNames_;
    std::vector<NodeBase*> selectedNodes_, selecting_, invalidators_, invalidates_;
    uint64_t invalidateEpoch_ = 0;
    int64_t pollingElapsed_ = 0;
};

EAccessMode ParseAccessMode(const std::string& text);
/// Decimal or 0x-hexadecimal, optionally signed; false when the text is no
/// 64-bit integer.
bool ParseInt64Text(const std::string& text, int64_t& out);
/// A whole text as a double (surrounding blanks allowed); false otherwise.
bool ParseDoubleText(const std::string& text, double& out);
/// strtod with a decimal point whatever the process's locale.
double ParseDoubleC(const char* text, char** end);
/// Shortest text that reads back to the same double.
std::string FormatDouble(double value);
ERepresentation ParseRepresentation(const std::string& text);

} // namespace qorcam::genapi
