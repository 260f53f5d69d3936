// The device module behind a DEV_HANDLE: what every transport's device shares.
#include "gentl/CDevice.h"

#include "GenTLCustom.h"
#include "gentl/CDataStream.h"
#include "gentl/CInterface.h"
#include "gentl/CTL.h"
#include "gentl/InfoFillers.h"
#include "gentl/Producer.h"

#include <mutex>
#include <stdexcept>

namespace GenICam::Client {

CDevice::CDevice(CTL* tl, CInterface* parent, std::string id, DEVICE_ACCESS_FLAGS access)
    : m_tl(tl), m_parent(parent), m_id(std::move(id)), m_access(access) {}

CDevice::~CDevice() {
    DestroyDataStreams();
    if (m_parent) m_parent->RemoveDevice(this);
}

void CDevice::DestroyDataStreams() {
    for (CDataStream*& stream : m_streams) {
        CDataStream* s = stream;
        stream = nullptr;
        delete s;
    }
}

std::string CDevice::GetDataStreamID(uint32_t index) const {
    if (index >= kNumDataStreams) throw std::invalid_argument(FormatString("Invalid Stream Index %d", index));
    return "DS" + std::to_string(index);
}

CDataStream* CDevice::OpenDataStream(const std::string& id) {
    for (CDataStream* stream : m_streams) {
        if (stream && stream->GetID() == id) return stream;
    }
    // The stream's slot is its index, so "DS" must be followed by exactly one of the indices.
    uint32_t index = kNumDataStreams;
    for (uint32_t i = 0; i < kNumDataStreams; ++i) {
        if (id == GetDataStreamID(i)) index = i;
    }
    if (index == kNumDataStreams)
        throw std::invalid_argument(FormatString("Invalid Stream ID %s", id.c_str()));
    CDataStream* stream = CreateDataStream(index, id);
    m_streams[index] = stream;
    return stream;
}

void CDevice::ForgetDataStream(CDataStream* stream) {
    for (CDataStream*& s : m_streams) {
        if (s == stream) s = nullptr;
    }
}

void CDevice::GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    PortInfoValues values = ModulePortInfo("DEV::" + m_id, "Device", "DevicePort", SystemVersionText(m_tl));
    values.accessRead = values.accessWrite = true;
    AnswerPortInfo(values, cmd, type, buffer, size);
}

CEventObj* CDevice::EventSource(EVENT_TYPE) {
    return nullptr;
}

void CDevice::RegisterEvent(EVENT_TYPE type, EVENT_HANDLE* event) {
    CEventObj& source = RequireEventSource(type == EVENT_ERROR ? &m_errorEvent : EventSource(type), type);
    source.Start();
    *event = ToHandle(&source);
}

void CDevice::UnregisterEvent(EVENT_TYPE type) {
    RequireEventSource(type == EVENT_ERROR ? &m_errorEvent : EventSource(type), type).Stop();
}


CModuleDescription& CDevice::Description() {
    std::lock_guard<std::mutex> guard(m_describing);
    if (m_description) return *m_description;
    auto d = std::make_unique<CModuleDescription>(GetProducerModelName() + "_Device.xml");
    auto info = [this](DEVICE_INFO_CMD cmd) {
        return [this, cmd](uint32_t) {
            return InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) { GetInfo(cmd, t, b, s); });
        };
    };
    d->AddText("DeviceID", false, [this](uint32_t) { return GetID(); });
    d->AddText("DeviceVendorName", false, info(DEVICE_INFO_VENDOR));
    d->AddText("DeviceModelName", false, info(DEVICE_INFO_MODEL));
    d->AddText("DeviceSerialNumber", false, info(DEVICE_INFO_CUSTOM_SERIAL_NUMBER));
    d->AddText("DeviceUserID", false, info(DEVICE_INFO_CUSTOM_USER_NAME));
    d->AddText("DeviceTLType", false, info(DEVICE_INFO_TLTYPE));
    DescribeDevice(*d);
    m_description = std::move(d);
    return *m_description;
}

void CDevice::GetURL(char* text, size_t* size) {
    CopyInfoString(text, size, nullptr, Description().Url());
}

void CDevice::GetURLInfo(uint32_t index, URL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    Description().GetURLInfo(index, cmd, type, buffer, size);
}

} // namespace GenICam::Client
