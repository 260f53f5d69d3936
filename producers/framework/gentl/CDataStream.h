// The data-stream module behind a DS_HANDLE: what every transport's stream shares.
#pragma once

#include "gentl/CEventQueue.h"
#include "gentl/ICommonBase.h"

#include <memory>
#include <string>

namespace GenICam::Client {

class CDevice;
class CBufferInfo;
class CDataStreamEventNewBuffer;

// An opened data stream of a device. It owns its new-buffer and error event sources; destroying it
// tells its device to forget it. The transport supplies the buffer pools, queues and acquisition.
// Buffer arguments have passed the handle test already (they are live CBufferInfo objects), but not
// necessarily of this stream.
class CDataStream : public ICommonBase {
public:
    CDataStream(CDevice* device, uint32_t index, std::string id);
    ~CDataStream() override;

    // EVENT_ERROR selects the error source, EVENT_NEW_BUFFER the new-buffer source; any other type
    // throws runtime_error "Event ID <type> not implemented".
    void RegisterEvent(EVENT_TYPE type, EVENT_HANDLE* event) override;
    void UnregisterEvent(EVENT_TYPE type) override;
    // The stream module's own port: ID "DS" and the index, MODULE "TLDataStream", PORTNAME
    // "StreamPort", little-endian, readable and writable; other commands answer nothing.
    void GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override;

    virtual CBufferInfo* AnnounceBuffer(void* buffer, size_t size, void* userPointer) = 0;
    virtual CBufferInfo* AllocAndAnnounceBuffer(size_t size, void* userPointer) = 0;
    virtual void RevokeBuffer(CBufferInfo* buffer, void** memory, void** userPointer) = 0;
    virtual void QueueBuffer(CBufferInfo* buffer) = 0;
    virtual void FlushQueue(ACQ_QUEUE_TYPE operation) = 0;
    virtual void StartAcquisition(ACQ_START_FLAGS flags, uint64_t count) = 0;
    virtual void StopAcquisition(ACQ_STOP_FLAGS flags) = 0;
    virtual void GetInfo(STREAM_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) = 0;
    virtual void GetBufferInfo(CBufferInfo* buffer, BUFFER_INFO_CMD cmd, INFO_DATATYPE* type, void* out,
                               size_t* size) = 0;
    virtual CBufferInfo* GetBufferID(uint32_t index) = 0;
    // The new-buffer event's GetData: waits up to `timeout` ms for a delivered buffer and writes its
    // NEW_BUFFER_EVENT_DATA (at most *size bytes). False on a time-out.
    virtual bool TakeNextNewBuffer(void* buffer, size_t* size, uint64_t timeout) = 0;
    // The new-buffer event's Kill: buffers with the driver complete as cancelled and are delivered.
    virtual void CancelPendingRequests() = 0;

    const std::string& GetID() const { return m_id; }
    uint32_t GetIndex() const { return m_index; }
    CDevice* GetParent() const { return m_device; }
    CEventError& GetErrorEvent() { return m_errorEvent; }
    CDataStreamEventNewBuffer& GetNewBufferEvent() { return *m_newBufferEvent; }

private:
    CEventObj& EventSourceOf(EVENT_TYPE type);

    CDevice* m_device;
    uint32_t m_index;
    std::string m_id;
    CEventError m_errorEvent;
    std::unique_ptr<CDataStreamEventNewBuffer> m_newBufferEvent;
};

// Writes the event data of one delivered buffer into the consumer's buffer: at most *size bytes of the
// record (a null buffer writes nothing); *size becomes the bytes written.
void CopyNewBufferEventData(const CBufferInfo& delivered, void* buffer, size_t* size);

} // namespace GenICam::Client
