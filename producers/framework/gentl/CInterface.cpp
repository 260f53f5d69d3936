// The interface module behind an IF_HANDLE: what every transport's interface shares.
#include "gentl/CInterface.h"

#include "GenTLCustom.h"
#include "gentl/CDevice.h"
#include "gentl/CInterfaceInfo.h"
#include "gentl/CTL.h"
#include "gentl/InfoFillers.h"
#include "gentl/Producer.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>

namespace GenICam::Client {

CInterface::CInterface(CTL* tl, std::unique_ptr<CInterfaceInfo> info) : m_tl(tl), m_info(std::move(info)) {}

CInterface::~CInterface() {
    DestroyOpenDevices();
    if (m_tl) m_tl->RemoveInterface(this);
}

void CInterface::DestroyOpenDevices() {
    while (!m_openDevices.empty()) {
        CDevice* first = m_openDevices.front();
        delete first;
        RemoveDevice(first);
    }
}

void CInterface::AddOpenDevice(CDevice* device) {
    m_openDevices.push_back(device);
}

void CInterface::RemoveDevice(CDevice* device) {
    auto it = std::find(m_openDevices.begin(), m_openDevices.end(), device);
    if (it != m_openDevices.end()) m_openDevices.erase(it);
}

void CInterface::GetInfo(INTERFACE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    m_info->GetInfo(cmd, type, buffer, size);
}

void CInterface::GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    AnswerPortInfo(ModulePortInfo(m_info->GetID(), "TLInterface", "InterfacePort", SystemVersionText(m_tl)),
                   cmd, type, buffer, size);
}

CEventObj* CInterface::EventSource(EVENT_TYPE) {
    return nullptr;
}

void CInterface::RegisterEvent(EVENT_TYPE type, EVENT_HANDLE* event) {
    CEventObj& source = RequireEventSource(type == EVENT_CUSTOM_BUS ? &m_busEvent : EventSource(type), type);
    source.Start();
    *event = ToHandle(&source);
}

void CInterface::UnregisterEvent(EVENT_TYPE type) {
    RequireEventSource(type == EVENT_CUSTOM_BUS ? &m_busEvent : EventSource(type), type).Stop();
}


CModuleDescription& CInterface::Description() {
    std::lock_guard<std::mutex> guard(m_describing);
    if (m_description) return *m_description;
    auto d = std::make_unique<CModuleDescription>(GetProducerModelName() + "_Interface.xml");
    auto own = [this](INTERFACE_INFO_CMD cmd) {
        return [this, cmd](uint32_t) {
            return InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) { GetInfo(cmd, t, b, s); });
        };
    };
    auto listed = [this](DEVICE_INFO_CMD cmd) {
        return [this, cmd](uint32_t i) {
            const std::string id = GetDeviceID(i);
            return InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) { GetDeviceInfo(id, cmd, t, b, s); });
        };
    };
    d->AddText("InterfaceID", false, own(INTERFACE_INFO_ID));
    d->AddText("InterfaceDisplayName", false, own(INTERFACE_INFO_DISPLAYNAME));
    d->AddText("InterfaceType", false, own(INTERFACE_INFO_TLTYPE));
    d->SetCommand("DeviceUpdateList", [this] { UpdateDeviceList(nullptr, 1000); });
    d->SetSelector("DeviceSelector", [this] { return GetNumDevices(); });
    d->AddText("DeviceID", true, [this](uint32_t i) { return GetDeviceID(i); });
    d->AddText("DeviceVendorName", true, listed(DEVICE_INFO_VENDOR));
    d->AddText("DeviceModelName", true, listed(DEVICE_INFO_MODEL));
    d->AddText("DeviceSerialNumber", true, listed(DEVICE_INFO_CUSTOM_SERIAL_NUMBER));
    d->AddText("DeviceUserID", true, listed(DEVICE_INFO_CUSTOM_USER_NAME));
    DescribeListedDevices(*d);
    m_description = std::move(d);
    return *m_description;
}

void CInterface::GetURL(char* text, size_t* size) {
    CopyInfoString(text, size, nullptr, Description().Url());
}

void CInterface::GetURLInfo(uint32_t index, URL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    Description().GetURLInfo(index, cmd, type, buffer, size);
}

} // namespace GenICam::Client
