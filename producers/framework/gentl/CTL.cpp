// The system module behind a TL_HANDLE: the interface list, opened interfaces and library info.
#include "gentl/CTL.h"

#include "gentl/CInterface.h"
#include "gentl/CInterfaceInfo.h"
#include "gentl/InfoFillers.h"
#include "gentl/Producer.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>

namespace GenICam::Client {

std::string GetProducerFileName() {
    const std::string path = GetProducerPath();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::string();
    return path.substr(slash + 1);
}

std::string SystemVersionText(CTL* tl) {
    return tl ? tl->FormatVersion(tl->GetVersion()) : FormatProducerVersion(GetProducerVersion());
}

bool AnswerLibraryInfo(TL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    switch (cmd) {
    case TL_INFO_VENDOR:
        CopyInfoString(buffer, size, type, GetProducerVendorName());
        return true;
    case TL_INFO_MODEL:
        CopyInfoString(buffer, size, type, GetProducerModelName());
        return true;
    case TL_INFO_VERSION:
        CopyInfoString(buffer, size, type, FormatProducerVersion(GetProducerVersion()));
        return true;
    case TL_INFO_TLTYPE:
        CopyInfoString(buffer, size, type, GetProducerTLType());
        return true;
    case TL_INFO_PATHNAME:
        CopyInfoString(buffer, size, type, GetProducerPath());
        return true;
    case TL_INFO_DISPLAYNAME:
        CopyInfoString(buffer, size, type, GetProducerDisplayName());
        return true;
    default:
        return false;
    }
}

CTL::CTL() = default;

CTL::~CTL() {
    // Each interface removes itself from the list in its destructor.
    while (!m_openInterfaces.empty()) {
        CInterface* first = m_openInterfaces.front();
        delete first;
        if (!m_openInterfaces.empty() && m_openInterfaces.front() == first)
            m_openInterfaces.erase(m_openInterfaces.begin());
    }
}

void CTL::GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    AnswerPortInfo(ModulePortInfo("0", "TLSystem", "TLPort", FormatVersion(GetVersion())), cmd, type, buffer,
                   size);
}

uint32_t CTL::GetNumInterfaces() {
    if (!m_listRead) UpdateInterfaceList(nullptr, 200);
    return static_cast<uint32_t>(m_interfaceList.size());
}

std::string CTL::GetInterfaceID(uint32_t index) {
    if (!m_listRead) UpdateInterfaceList(nullptr, 200);
    if (index >= m_interfaceList.size()) throw std::invalid_argument("Interface Index not available");
    return m_interfaceList[index]->GetID();
}

void CTL::UpdateInterfaceList(bool8_t* changed, uint64_t) {
    if (changed) *changed = 0;
    std::vector<std::unique_ptr<CInterfaceInfo>> fresh = GetTransport().BuildInterfaceList();
    std::vector<std::unique_ptr<CInterfaceInfo>> previous = std::move(m_interfaceList);
    m_interfaceList.clear();
    std::vector<std::unique_ptr<CInterfaceInfo>> added;
    for (auto& entry : fresh) {
        auto old = std::find_if(previous.begin(), previous.end(),
                                [&](const auto& p) { return p && p->GetID() == entry->GetID(); });
        if (old != previous.end()) {
            m_interfaceList.push_back(std::move(*old));
        } else {
            added.push_back(std::move(entry));
        }
    }
    bool anyChange = !added.empty();
    for (auto& entry : added)
        m_interfaceList.push_back(std::move(entry));
    for (auto& old : previous)
        anyChange = anyChange || old != nullptr;
    if (changed && anyChange) *changed = 1;
    m_listRead = true;
}

void CTL::GetInfo(TL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    if (cmd == TL_INFO_ID || cmd == TL_INFO_NAME) {
        const std::string name = GetProducerFileName();
        if (name.empty()) throw std::runtime_error("Invalid Module Name");
        return CopyInfoString(buffer, size, type, name);
    }
    if (!AnswerLibraryInfo(cmd, type, buffer, size)) throw std::invalid_argument("Invalid cmd");
}

void CTL::RemoveInterface(CInterface* iface) {
    auto it = std::find(m_openInterfaces.begin(), m_openInterfaces.end(), iface);
    if (it != m_openInterfaces.end()) m_openInterfaces.erase(it);
}

CInterface* CTL::OpenInterface(const std::string& id) {
    if (!m_listRead) UpdateInterfaceList(nullptr, 200);
    for (CInterface* open : m_openInterfaces) {
        if (open->GetInterfaceInfo().GetDevicePath() == id) return open;
    }
    const CInterfaceInfo* found = nullptr;
    for (const auto& entry : m_interfaceList) {
        if (entry->IsMatch(id)) {
            found = entry.get();
            break;
        }
    }
    if (!found) throw std::runtime_error(FormatString("Invalid interface name %s", id.c_str()));
    CInterface* iface = GetTransport().CreateInterface(found->Clone(), this);
    m_openInterfaces.push_back(iface);
    return iface;
}

void CTL::GetInterfaceInfo(const std::string& id, INTERFACE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                           size_t* size) {
    for (CInterface* open : m_openInterfaces) {
        if (open->GetInterfaceInfo().GetID() == id)
            return open->GetInterfaceInfo().GetInfo(cmd, type, buffer, size);
    }
    for (const auto& entry : m_interfaceList) {
        if (entry->GetID() == id) return entry->GetInfo(cmd, type, buffer, size);
    }
    throw std::invalid_argument("Invalid Interface name");
}

uint64_t CTL::GetVersion() {
    return GetProducerVersion();
}

std::string CTL::FormatVersion(uint64_t version) {
    return FormatProducerVersion(version);
}


CModuleDescription& CTL::Description() {
    std::lock_guard<std::mutex> guard(m_describing);
    if (m_description) return *m_description;
    auto d = std::make_unique<CModuleDescription>(GetProducerModelName() + "_TLSystem.xml");
    auto info = [this](TL_INFO_CMD cmd) {
        return [this, cmd](uint32_t) {
            return InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) { GetInfo(cmd, t, b, s); });
        };
    };
    d->AddText("TLID", false, info(TL_INFO_NAME));
    d->AddText("TLVendorName", false, info(TL_INFO_VENDOR));
    d->AddText("TLModelName", false, info(TL_INFO_MODEL));
    d->AddText("TLVersion", false, info(TL_INFO_VERSION));
    d->AddText("TLFileName", false, info(TL_INFO_NAME));
    d->AddText("TLDisplayName", false, info(TL_INFO_DISPLAYNAME));
    d->AddText("TLPath", false, info(TL_INFO_PATHNAME));
    d->AddText("TLType", false, info(TL_INFO_TLTYPE));
    d->SetCommand("InterfaceUpdateList", [this] { UpdateInterfaceList(nullptr, 1000); });
    d->SetSelector("InterfaceSelector", [this] { return GetNumInterfaces(); });
    d->AddText("InterfaceID", true, [this](uint32_t i) { return GetInterfaceID(i); });
    d->AddText("InterfaceDisplayName", true, [this](uint32_t i) {
        const std::string id = GetInterfaceID(i);
        return InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) {
            GetInterfaceInfo(id, INTERFACE_INFO_DISPLAYNAME, t, b, s);
        });
    });
    m_description = std::move(d);
    return *m_description;
}

void CTL::GetURL(char* text, size_t* size) {
    CopyInfoString(text, size, nullptr, Description().Url());
}

void CTL::GetURLInfo(uint32_t index, URL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    Description().GetURLInfo(index, cmd, type, buffer, size);
}

} // namespace GenICam::Client
