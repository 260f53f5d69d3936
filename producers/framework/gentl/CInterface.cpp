// The interface module behind an IF_HANDLE: what every transport's interface shares.
#include "gentl/CInterface.h"

#include "GenTLCustom.h"
#include "gentl/CDevice.h"
#include "gentl/CInterfaceInfo.h"
#include "gentl/CTL.h"
#include "gentl/InfoFillers.h"
#include "gentl/Producer.h"

#include <algorithm>
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

} // namespace GenICam::Client
