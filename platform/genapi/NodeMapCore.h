// NodeMapCore: the nodes of one map, its lock, its ports and the load from XML.
#pragma once

#include "genapi/Interfaces.h"
#include "genapi/Node.h"

#include <pugixml.hpp>

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace qorcam::genapi {

class PortNode;
class RegisterBase;

/// Owns the nodes of one map. Guarantees: nodes live as long as the core;
/// one recursive lock serialises every access; loading either builds the
/// whole map or throws LogicalErrorException and leaves the core empty.
class NodeMapCore {
public:
    explicit NodeMapCore(INodeMap& owner) : owner_(owner) {}

    /// Builds the map from a description and an optional add-on whose nodes
    /// replace those of the same name and add the others.
    void Load(const char* xml, size_t length, const char* addon, size_t addonLength);

    NodeBase* Find(const std::string& name) const;
    NodeList_t Nodes() const;
    INodeMap& Owner() const { return owner_; }
    std::recursive_mutex& Mutex() const { return mutex_; }

    bool Connect(IPort* port, const std::string& portName, bool isDevicePort);
    bool ReadOnly() const { return readOnly_; }
    void Poll(int64_t elapsed);
    void InvalidateAll();

    /// Creates the node an element describes (and the nodes nested in it);
    /// used by the loader and by nodes that hold inline nodes.
    NodeBase* CreateFromElement(const pugi::xml_node& element, int depth,
                                const std::string& nameOverride = {});
    /// As CreateFromElement for a node written inside another one; the same
    /// element read again (by each entry of a StructReg) gives the same node.
    NodeBase* CreateInline(const pugi::xml_node& element);
    /// Another register on the port was written: caches that overlap forget.
    void PortWritten(const PortNode* port, int64_t address, int64_t length, const RegisterBase* writer);
    void RegisterOnPort(RegisterBase* reg) { registers_.push_back(reg); }
    uint64_t NextEpoch() { return ++epoch_; }

    /// Loop guard for values computed from other nodes.
    class Depth {
    public:
        explicit Depth(NodeMapCore& core, const NodeBase& node);
        ~Depth() { --core_.depth_; }

    private:
        NodeMapCore& core_;
    };

    static constexpr int kMaxDepth = 256;
    static constexpr size_t kMaxNodes = 1'000'000;
    static constexpr int kMaxNesting = 32;

private:
    NodeBase* Add(std::unique_ptr<NodeBase> node);
    void CollectElements(const pugi::xml_node& parent, std::vector<pugi::xml_node>& out, int depth);
    void CheckValueLoops();
    void ComputeCachable();
    void Clear();

    INodeMap& owner_;
    mutable std::recursive_mutex mutex_;
    std::vector<std::unique_ptr<NodeBase>> nodes_;
    std::unordered_map<std::string, NodeBase*> byName_;
    std::vector<RegisterBase*> registers_;
    std::vector<NodeBase*> polled_;
    std::unordered_map<const void*, NodeBase*> inline_;
    bool loaded_ = false;
    bool readOnly_ = false;
    int depth_ = 0;
    uint64_t epoch_ = 0;
};

} // namespace qorcam::genapi
