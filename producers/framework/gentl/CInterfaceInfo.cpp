// Description of one interface before it is opened: name, device path and display name.
#include "gentl/CInterfaceInfo.h"

#include "gentl/InfoFillers.h"
#include "gentl/Producer.h"

#include <stdexcept>

namespace GenICam::Client {

CInterfaceInfo::CInterfaceInfo(const std::string& name, std::string devicePath)
    : m_name(ToUpperText(name)), m_devicePath(std::move(devicePath)),
      m_displayName("Interface : " + m_devicePath) {}

std::unique_ptr<CInterfaceInfo> CInterfaceInfo::Clone() const {
    return std::unique_ptr<CInterfaceInfo>(new CInterfaceInfo(*this));
}

void CInterfaceInfo::GetInfo(INTERFACE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) const {
    switch (cmd) {
    case INTERFACE_INFO_ID:
        return CopyInfoString(buffer, size, type, GetID());
    case INTERFACE_INFO_DISPLAYNAME:
        return CopyInfoString(buffer, size, type, GetDisplayName());
    case INTERFACE_INFO_TLTYPE:
        return CopyInfoString(buffer, size, type, GetProducerTLType());
    default:
        throw std::invalid_argument(FormatString("Invalid InterfaceInfoID %d", cmd));
    }
}

std::string CInterfaceInfo::GetID() const {
    return m_name + "::" + m_devicePath;
}

bool CInterfaceInfo::IsMatch(const std::string& text) const {
    const size_t sep = text.find("::");
    if (sep == std::string::npos) return ToUpperText(text) == ToUpperText(m_devicePath);
    if (sep > 0 && ToUpperText(text.substr(0, sep)) != m_name) return false;
    const size_t start = sep + 2;
    const size_t end = text.find("::", start);
    const std::string path = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (path.empty()) throw std::invalid_argument("Invalid Device Name");
    return ToUpperText(path) == ToUpperText(m_devicePath);
}

} // namespace GenICam::Client
