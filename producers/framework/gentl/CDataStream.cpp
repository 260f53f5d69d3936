// The data-stream module behind a DS_HANDLE: what every transport's stream shares.
#include "gentl/CDataStream.h"

#include "GenTLCustom.h"
#include "gentl/CBufferInfo.h"
#include "gentl/CDataStreamEventNewBuffer.h"
#include "gentl/CDevice.h"
#include "gentl/CTL.h"
#include "gentl/InfoFillers.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace GenICam::Client {

CDataStream::CDataStream(CDevice* device, uint32_t index, std::string id)
    : m_device(device), m_index(index), m_id(std::move(id)),
      m_newBufferEvent(std::make_unique<CDataStreamEventNewBuffer>(this)) {}

CDataStream::~CDataStream() {
    if (m_device) m_device->ForgetDataStream(this);
}

CEventObj& CDataStream::EventSourceOf(EVENT_TYPE type) {
    CEventObj* source = nullptr;
    if (type == EVENT_ERROR) source = &m_errorEvent;
    if (type == EVENT_NEW_BUFFER) source = m_newBufferEvent.get();
    return RequireEventSource(source, type);
}

void CDataStream::RegisterEvent(EVENT_TYPE type, EVENT_HANDLE* event) {
    CEventObj& source = EventSourceOf(type);
    source.Start();
    *event = ToHandle(&source);
}

void CDataStream::UnregisterEvent(EVENT_TYPE type) { EventSourceOf(type).Stop(); }

void CDataStream::GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    PortInfoValues values = ModulePortInfo("DS" + std::to_string(m_index), "TLDataStream", "StreamPort",
                                           SystemVersionText(m_device ? m_device->GetSystem() : nullptr));
    values.accessRead = values.accessWrite = true;
    values.refuseUnknown = false;
    AnswerPortInfo(values, cmd, type, buffer, size);
}

void CopyNewBufferEventData(const CBufferInfo& delivered, void* buffer, size_t* size) {
    NEW_BUFFER_EVENT_DATA record{};
    record.BufferHandle = reinterpret_cast<uintptr_t>(static_cast<const ICommonBase*>(&delivered));
    record.BufferBase = reinterpret_cast<uintptr_t>(delivered.GetBase());
    record.UserPointer = reinterpret_cast<uintptr_t>(delivered.GetUserPointer());
    if (!buffer) {
        *size = 0;
        return;
    }
    const size_t n = std::min(*size, sizeof record);
    std::memcpy(buffer, &record, n);
    *size = n;
}

} // namespace GenICam::Client
