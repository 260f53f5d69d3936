// NodeMap: CNodeMapRef over its core.
#include "genapi/NodeMap.h"

#include "genapi/GenericException.h"
#include "genapi/NodeMapCore.h"

#include <cstring>
#include <fstream>
#include <vector>

namespace qorcam::genapi {

CNodeMapRef::CNodeMapRef(std::string deviceName)
    : deviceName_(std::move(deviceName)), core_(std::make_unique<NodeMapCore>(*this)) {}

CNodeMapRef::~CNodeMapRef() = default;

void CNodeMapRef::_LoadXMLFromString(const char* xml) {
    if (!xml) throw InvalidArgumentException("no description text");
    _LoadXMLFromBuffer(xml, std::strlen(xml));
}

void CNodeMapRef::_LoadXMLFromStringInject(const char* xml, const char* addon) {
    if (!xml) throw InvalidArgumentException("no description text");
    if (!addon) throw InvalidArgumentException("no add-on text");
    _LoadXMLFromBuffer(xml, std::strlen(xml), addon, std::strlen(addon));
}

void CNodeMapRef::_LoadXMLFromBuffer(const char* xml, size_t length, const char* addon, size_t addonLength) {
    if (!xml) throw InvalidArgumentException("no description text");
    if (length == 0) throw LogicalErrorException("the description is empty");
    if (length > kMaxDescriptionSize || addonLength > kMaxDescriptionSize)
        throw LogicalErrorException("the description is larger than " + std::to_string(kMaxDescriptionSize) +
                                    " bytes");
    core_->Load(xml, length, addon, addonLength);
}

void CNodeMapRef::_LoadXMLFromFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) throw LogicalErrorException("cannot open the description file " + path);
    std::streamoff size = file.tellg();
    if (size < 0 || static_cast<uint64_t>(size) > kMaxDescriptionSize)
        throw LogicalErrorException("the description file " + path + " is empty, unreadable or too large");
    std::vector<char> text(static_cast<size_t>(size));
    file.seekg(0);
    if (!file.read(text.data(), size))
        throw LogicalErrorException("cannot read the description file " + path);
    _LoadXMLFromBuffer(text.data(), text.size());
}

bool CNodeMapRef::_Connect(IPort* port, const std::string& portName) {
    return core_->Connect(port, portName, portName == deviceName_);
}

INode* CNodeMapRef::GetNode(const std::string& name) const {
    std::lock_guard lock(core_->Mutex());
    return core_->Find(name);
}

NodeList_t CNodeMapRef::GetNodes() const {
    std::lock_guard lock(core_->Mutex());
    return core_->Nodes();
}

void CNodeMapRef::Poll(int64_t elapsedTime) {
    core_->Poll(elapsedTime);
}

void CNodeMapRef::InvalidateNodes() {
    core_->InvalidateAll();
}

} // namespace qorcam::genapi
