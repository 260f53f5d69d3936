// PortNode: forwarding to the connected port with errors that name the node; and Category.
#include "genapi/PortNode.h"

#include "genapi/GenericException.h"
#include "genapi/NodeMapCore.h"

#include <cstdio>

namespace qorcam::genapi {

namespace {

std::string Hex(int64_t v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(v));
    return buffer;
}

} // namespace

bool PortNode::ConfigureElement(const pugi::xml_node& child) {
    std::string n = child.name();
    // Chunk and event ports are served by adapters that this map does not
    // provide; their identity is kept only as description text.
    if (n == "ChunkID" || n == "EventID" || n == "SwapEndianess" || n == "CacheChunkData") return true;
    return NodeBase::ConfigureElement(child);
}

EAccessMode PortNode::BaseAccessMode() {
    if (!connected_) return NA;
    EAccessMode mode = connected_->GetAccessMode();
    return mode == _UndefinedAccesMode ? NA : mode;
}

void PortNode::Read(void* buffer, int64_t address, int64_t length) {
    ReadFor(*this, buffer, address, length);
}

void PortNode::Write(const void* buffer, int64_t address, int64_t length) {
    WriteFor(*this, buffer, address, length);
}

void PortNode::ReadFor(const NodeBase& who, void* buffer, int64_t address, int64_t length) {
    auto lock = Lock();
    if (!connected_)
        throw AccessException("node '" + who.Name() + "': port '" + name_ + "' is not connected");
    try {
        connected_->Read(buffer, address, length);
    } catch (const GenericException&) {
        throw;
    } catch (const std::exception& e) {
        throw RuntimeException("node '" + who.Name() + "': reading " + std::to_string(length) + " bytes at " +
                               Hex(address) + " failed: " + e.what());
    }
}

void PortNode::WriteFor(const NodeBase& who, const void* buffer, int64_t address, int64_t length) {
    auto lock = Lock();
    if (!connected_)
        throw AccessException("node '" + who.Name() + "': port '" + name_ + "' is not connected");
    try {
        connected_->Write(buffer, address, length);
    } catch (const GenericException&) {
        throw;
    } catch (const std::exception& e) {
        throw RuntimeException("node '" + who.Name() + "': writing " + std::to_string(length) + " bytes at " +
                               Hex(address) + " failed: " + e.what());
    }
}

bool CategoryNode::ConfigureElement(const pugi::xml_node& child) {
    if (std::string(child.name()) == "pFeature") {
        featureNames_.push_back(Text(child));
        return true;
    }
    return NodeBase::ConfigureElement(child);
}

void CategoryNode::Resolve(const Resolver& r) {
    NodeBase::Resolve(r);
    for (const auto& n : featureNames_) {
        NodeBase* node = r.Find(*this, n, "pFeature");
        node->MarkFeature();
        features_.push_back(node);
    }
}

NodeList_t CategoryNode::GetFeatures() {
    auto lock = Lock();
    return features_;
}

void CategoryNode::FromString(const std::string&, bool) {
    throw AccessException("node '" + name_ + "' is a category and has no value");
}

} // namespace qorcam::genapi
