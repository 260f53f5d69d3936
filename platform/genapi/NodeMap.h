// NodeMap: CNodeMapRef, the node map of one device built from its description.
#pragma once

#include "genapi/Interfaces.h"

#include <memory>
#include <string>

namespace qorcam::genapi {

class NodeMapCore;

/// The node map of one device. Guarantees: safe to use from several threads
/// (one lock serialises every node access); a failed load throws
/// LogicalErrorException with the reason and leaves the map empty; the map
/// never calls a connected port while it is being destroyed, so the port may
/// be destroyed right after it. Nodes are owned by the map and stay valid
/// until it is destroyed.
class CNodeMapRef : public INodeMap {
public:
    explicit CNodeMapRef(std::string deviceName = "Device");
    ~CNodeMapRef() override;
    CNodeMapRef(const CNodeMapRef&) = delete;
    CNodeMapRef& operator=(const CNodeMapRef&) = delete;

    /// Builds the map from a NUL-terminated description.
    void _LoadXMLFromString(const char* xml);
    /// As above, then the add-on's nodes replace those of the same name and
    /// the others are added.
    void _LoadXMLFromStringInject(const char* xml, const char* addon);
    /// Description of a given length (need not be NUL-terminated).
    void _LoadXMLFromBuffer(const char* xml, size_t length, const char* addon = nullptr,
                            size_t addonLength = 0);
    void _LoadXMLFromFile(const std::string& path);

    /// Connects a port to the port node portName. A port connected under the
    /// device name that reports RO makes every node at most read-only.
    bool _Connect(IPort* port, const std::string& portName);
    bool _Connect(IPort* port) { return _Connect(port, deviceName_); }
    INode* _GetNode(const std::string& name) const { return GetNode(name); }
    void _Poll(int64_t elapsedTime) { Poll(elapsedTime); }
    std::string _GetDeviceName() const { return deviceName_; }

    // INodeMap
    INode* GetNode(const std::string& name) const override;
    NodeList_t GetNodes() const override;
    std::string GetDeviceName() const override { return deviceName_; }
    bool Connect(IPort* port, const std::string& portName) override { return _Connect(port, portName); }
    void Poll(int64_t elapsedTime) override;
    void InvalidateNodes() override;

    /// Upper bound of a description file or text the map accepts.
    static constexpr size_t kMaxDescriptionSize = 64u * 1024u * 1024u;

private:
    std::string deviceName_;
    std::unique_ptr<NodeMapCore> core_;
};

} // namespace qorcam::genapi
