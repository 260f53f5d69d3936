// PortNode: the Port node of a map, which forwards register accesses to the connected IPort.
#pragma once

#include "genapi/Node.h"

namespace qorcam::genapi {

/// Guarantees: while nothing is connected the port is NA and every access
/// throws AccessException; failures of the connected port come back as
/// RuntimeException naming the register node and the address.
class PortNode : public NodeBase, public virtual IPort {
public:
    explicit PortNode(NodeMapCore& core) : NodeBase(core, "Port") {}

    EInterfaceType GetPrincipalInterfaceType() const override { return intfIPort; }
    void Read(void* buffer, int64_t address, int64_t length) override;
    void Write(const void* buffer, int64_t address, int64_t length) override;
    EAccessMode BaseAccessMode() override;
    bool OwnCachable() const override { return true; }

    void Attach(IPort* port) { connected_ = port; }
    bool Connected() const { return connected_ != nullptr; }
    /// Access on behalf of a register node, whose name the errors carry.
    void ReadFor(const NodeBase& who, void* buffer, int64_t address, int64_t length);
    void WriteFor(const NodeBase& who, const void* buffer, int64_t address, int64_t length);

protected:
    bool ConfigureElement(const pugi::xml_node& child) override;

private:
    IPort* connected_ = nullptr;
};

/// Category: an ordered list of features (pFeature).
class CategoryNode : public NodeBase, public virtual ICategory {
public:
    explicit CategoryNode(NodeMapCore& core) : NodeBase(core, "Category") {}

    EInterfaceType GetPrincipalInterfaceType() const override { return intfICategory; }
    INode* GetNode() override { return this; }
    std::string ToString(bool = false, bool = false) override { return {}; }
    void FromString(const std::string& value, bool verify = true) override;
    NodeList_t GetFeatures() override;
    void Resolve(const Resolver& resolver) override;

protected:
    bool ConfigureElement(const pugi::xml_node& child) override;

private:
    std::vector<std::string> featureNames_;
    NodeList_t features_;
};

} // namespace qorcam::genapi
