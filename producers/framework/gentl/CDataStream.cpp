// The data-stream module behind a DS_HANDLE: what every transport's stream shares.
#include "gentl/CDataStream.h"

#include "GenTLCustom.h"
#include "gentl/CBufferInfo.h"
#include "gentl/CDataStreamEventNewBuffer.h"
#include "gentl/CDevice.h"
#include "gentl/CTL.h"
#include "gentl/InfoFillers.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace GenICam::Client {

CDataStream::CDataStream(CDevice* device, uint32_t index, std::string id)
    : m_device(device), m_index(index), m_id(std::move(id)),
      m_newBufferEvent(std::make_unique<CDataStreamEventNewBuffer>(this)) {}

CDataStream::~CDataStream() {
    // The transport's threads are stopped: no buffer is with the driver any more, so all can go, also
    // those still queued or awaiting delivery.
    for (CBufferInfo* buffer : m_announced)
        delete buffer;
    if (m_device) m_device->ForgetDataStream(this);
}

CBufferInfo* CDataStream::MakeBuffer(void* buffer, size_t size, void* userPointer) {
    return new CBufferInfo(buffer, size, userPointer);
}

CBufferInfo* CDataStream::AnnounceBuffer(void* buffer, size_t size, void* userPointer) {
    std::unique_ptr<CBufferInfo> made(MakeBuffer(buffer, size, userPointer));
    std::lock_guard<std::mutex> guard(m_lock);
    m_announced.push_back(made.get());
    return made.release();
}

CBufferInfo* CDataStream::AllocAndAnnounceBuffer(size_t size, void* userPointer) {
    return AnnounceBuffer(nullptr, size, userPointer);
}

bool CDataStream::IsAnnounced(CBufferInfo* buffer) const {
    return std::find(m_announced.begin(), m_announced.end(), buffer) != m_announced.end();
}

void CDataStream::RequireOwnBuffer(CBufferInfo* buffer) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!IsAnnounced(buffer)) throw std::runtime_error("Invalid Device Handle");
}

void CDataStream::RevokeBuffer(CBufferInfo* buffer, void** memory, void** userPointer) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = std::find(m_announced.begin(), m_announced.end(), buffer);
        if (it == m_announced.end()) throw std::invalid_argument("Invalid Buffer Handle");
        if (buffer->queued || buffer->awaitingDelivery || buffer->acquiring)
            throw std::runtime_error("Buffer queued");
        m_announced.erase(it);
    }
    if (memory) *memory = buffer->OwnsMemory() ? nullptr : buffer->GetBase();
    if (userPointer) *userPointer = buffer->GetUserPointer();
    delete buffer;
}

void CDataStream::AppendInput(CBufferInfo* buffer) {
    buffer->queued = true;
    buffer->newData = false;
    buffer->awaitingDelivery = false;
    m_input.push_back(buffer);
}

void CDataStream::QueueBuffer(CBufferInfo* buffer) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!IsAnnounced(buffer)) throw std::invalid_argument("Invalid Buffer Handle");
        if (buffer->queued) return;
        if (buffer->awaitingDelivery) m_output.erase(std::find(m_output.begin(), m_output.end(), buffer));
        AppendInput(buffer);
    }
    OnBufferQueued();
}

void CDataStream::FlushQueue(ACQ_QUEUE_TYPE operation) {
    bool filledInput = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        switch (operation) {
        case ACQ_QUEUE_INPUT_TO_OUTPUT:
            // Buffers with the driver stay there until their transfer ends.
            for (CBufferInfo* b : m_input) {
                b->queued = b->newData = false;
                b->awaitingDelivery = true;
                m_output.push_back(b);
            }
            m_input.clear();
            if (!m_output.empty()) m_outputReady.notify_all();
            break;
        case ACQ_QUEUE_OUTPUT_DISCARD:
            for (CBufferInfo* b : m_output)
                b->queued = b->newData = b->awaitingDelivery = false;
            m_output.clear();
            break;
        case ACQ_QUEUE_ALL_TO_INPUT:
            for (CBufferInfo* b : m_output)
                AppendInput(b);
            m_output.clear();
            for (CBufferInfo* b : m_announced) {
                if (!b->queued) AppendInput(b);
            }
            filledInput = !m_input.empty();
            break;
        case ACQ_QUEUE_UNQUEUED_TO_INPUT:
            for (CBufferInfo* b : m_announced) {
                if (!b->queued && !b->awaitingDelivery) AppendInput(b);
            }
            filledInput = !m_input.empty();
            break;
        case ACQ_QUEUE_ALL_DISCARD:
            m_input.clear();
            m_output.clear();
            for (CBufferInfo* b : m_announced) {
                if (!b->acquiring) b->queued = b->newData = b->awaitingDelivery = false;
            }
            break;
        default:
            break;
        }
    }
    if (filledInput) OnBufferQueued();
}

void CDataStream::GetInfo(STREAM_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    size_t announced, queued, awaiting;
    uint64_t delivered;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        announced = m_announced.size();
        queued = m_input.size();
        awaiting = m_output.size();
        delivered = m_delivered;
    }
    switch (cmd) {
    case STREAM_INFO_ID:
        return CopyInfoString(buffer, size, type, std::to_string(m_index));
    case STREAM_INFO_NUM_DELIVERED:
        return CopyInfoUInt64(buffer, size, type, delivered);
    case STREAM_INFO_NUM_UNDERRUN:
        return CopyInfoUInt64(buffer, size, type, 0);
    case STREAM_INFO_NUM_ANNOUNCED:
        return CopyInfoSizeT(buffer, size, type, announced);
    case STREAM_INFO_NUM_QUEUED:
        return CopyInfoSizeT(buffer, size, type, queued);
    case STREAM_INFO_NUM_AWAIT_DELIVERY:
        return CopyInfoSizeT(buffer, size, type, awaiting);
    case STREAM_INFO_TLTYPE:
        return CopyInfoString(buffer, size, type, "Custom");
    default:
        throw std::runtime_error(FormatString("Invalid stream info command %d", cmd));
    }
}

CBufferInfo* CDataStream::GetBufferID(uint32_t index) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (index >= m_announced.size()) throw std::runtime_error(FormatString("Invalid Buffer Index %d", index));
    return m_announced[index];
}

bool CDataStream::TakeNextNewBuffer(void* buffer, size_t* size, uint64_t timeout) {
    // Taking a buffer without handing out its handle would lose it: no room is a size query.
    if (!buffer || *size == 0) {
        *size = sizeof(EVENT_NEW_BUFFER_DATA);
        return false;
    }
    std::unique_lock<std::mutex> held(m_lock);
    auto ready = [this] { return m_waitStop || !m_output.empty(); };
    const uint32_t ms = static_cast<uint32_t>(timeout);
    const auto until = ms == 0xFFFFFFFFu ? std::chrono::steady_clock::time_point::max()
                                         : std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    if (ms != 0 && !ready()) {
        held.unlock();
        FetchForConsumer(until);
        held.lock();
    }
    if (ms == 0xFFFFFFFFu) {
        m_outputReady.wait(held, ready);
    } else if (!m_outputReady.wait_until(held, until, ready)) {
        return false;
    }
    if (m_output.empty()) throw std::runtime_error("Wait terminated");
    CBufferInfo* next = m_output.front();
    m_output.pop_front();
    next->queued = next->awaitingDelivery = false;
    next->newData = true;
    CopyNewBufferEventData(*next, buffer, size);
    return true;
}

CBufferInfo* CDataStream::PopInput() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_input.empty()) return nullptr;
    CBufferInfo* front = m_input.front();
    m_input.pop_front();
    return front;
}

void CDataStream::AddToDriver(CBufferInfo* buffer) {
    std::lock_guard<std::mutex> guard(m_lock);
    buffer->acquiring = true;
    m_driver.push_back(buffer);
}

CBufferInfo* CDataStream::OldestWithDriver() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_driver.empty() ? nullptr : m_driver.front();
}

std::vector<CBufferInfo*> CDataStream::BuffersWithDriver() {
    std::lock_guard<std::mutex> guard(m_lock);
    return {m_driver.begin(), m_driver.end()};
}

size_t CDataStream::NumWithDriver() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_driver.size();
}

void CDataStream::Deliver(CBufferInfo* buffer, bool completed) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = std::find(m_driver.begin(), m_driver.end(), buffer);
        if (it != m_driver.end()) m_driver.erase(it);
        buffer->queued = buffer->acquiring = false;
        buffer->newData = completed;
        buffer->awaitingDelivery = true;
        m_output.push_back(buffer);
        if (completed) ++m_delivered;
    }
    // Woken after the lock is let go: a waiter woken under it would only sleep again on the lock (two
    // more system calls and a switch for every buffer).
    m_outputReady.notify_one();
}

void CDataStream::SetWaitStop(bool stop) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_waitStop = stop;
    if (stop) m_outputReady.notify_all();
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

void CDataStream::UnregisterEvent(EVENT_TYPE type) {
    EventSourceOf(type).Stop();
}

void CDataStream::GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    PortInfoValues values = ModulePortInfo("DS" + std::to_string(m_index), "TLDataStream", "StreamPort",
                                           SystemVersionText(m_device ? m_device->GetSystem() : nullptr));
    values.accessRead = values.accessWrite = true;
    values.refuseUnknown = false;
    AnswerPortInfo(values, cmd, type, buffer, size);
}

void CopyNewBufferEventData(const CBufferInfo& delivered, void* buffer, size_t* size) {
    EVENT_NEW_BUFFER_DATA record{};
    record.BufferHandle = ToHandle(const_cast<CBufferInfo*>(&delivered));
    record.pUserPointer = delivered.GetUserPointer();
    const size_t n = std::min(*size, sizeof record);
    std::memcpy(buffer, &record, n);
    *size = n;
}

} // namespace GenICam::Client
