// The data-stream module behind a DS_HANDLE: its buffer pools and queues, shared by every transport.
#pragma once

#include "gentl/CEventQueue.h"
#include "gentl/ICommonBase.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace GenICam::Client {

class CDevice;
class CBufferInfo;
class CDataStreamEventNewBuffer;

// An opened data stream of a device. It owns its announced buffers, its new-buffer and error event
// sources; destroying it frees every buffer and tells its device to forget it. A buffer travels
// input queue -> with the driver -> output queue -> delivered, and is in at most one queue at a time.
// A buffer with the driver is never discarded or revocable: it leaves the driver only by Deliver().
// The queues and buffer flags are guarded by one lock; every operation here is thread-safe.
//
// A transport derives from it and supplies acquisition (its threads take buffers with PopInput, hand
// them to the driver with AddToDriver and return them with Deliver), the transport's buffer-info
// answers, the stream registers and the cancellation of pending transfers.
class CDataStream : public ICommonBase {
public:
    CDataStream(CDevice* device, uint32_t index, std::string id);
    // Derived destructors stop their threads first; the base then frees every announced buffer.
    ~CDataStream() override;

    // EVENT_ERROR selects the error source, EVENT_NEW_BUFFER the new-buffer source; any other type
    // throws runtime_error "Event ID <type> not implemented".
    void RegisterEvent(EVENT_TYPE type, EVENT_HANDLE* event) override;
    void UnregisterEvent(EVENT_TYPE type) override;
    // The stream module's own port: ID "DS" and the index, MODULE "TLDataStream", PORTNAME
    // "StreamPort", little-endian, readable and writable; other commands answer nothing.
    void GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override;

    // A null buffer makes the stream allocate (and own) `size` bytes.
    virtual CBufferInfo* AnnounceBuffer(void* buffer, size_t size, void* userPointer);
    virtual CBufferInfo* AllocAndAnnounceBuffer(size_t size, void* userPointer);
    // Not announced here: invalid_argument "Invalid Buffer Handle"; queued, with the driver or awaiting
    // delivery: runtime_error "Buffer queued". *memory receives the consumer's memory (null for memory
    // the stream allocated), *userPointer the user pointer, each when asked for.
    virtual void RevokeBuffer(CBufferInfo* buffer, void** memory, void** userPointer);
    // Appends the buffer to the input queue (taking it out of the output queue when it was waiting
    // there); a buffer already queued is left as it is.
    virtual void QueueBuffer(CBufferInfo* buffer);
    virtual void FlushQueue(ACQ_QUEUE_TYPE operation);
    // STREAM_INFO 0 to 5 and 10; others throw runtime_error "Invalid stream info command %d".
    virtual void GetInfo(STREAM_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size);
    // An index past the announced buffers throws runtime_error "Invalid Buffer Index %d".
    virtual CBufferInfo* GetBufferID(uint32_t index);
    // The new-buffer event's GetData: waits up to `timeout` ms for a buffer in the output queue, marks it
    // delivered and writes its EVENT_NEW_BUFFER_DATA {buffer handle, user pointer} (at most *size bytes). False on a time-out, and
    // for a size query (null buffer or *size 0: *size = the record's size, nothing taken);
    // runtime_error "Wait terminated" when acquisition is being stopped.
    virtual bool TakeNextNewBuffer(void* buffer, size_t* size, uint64_t timeout);

    // The transport's part.
    virtual void StartAcquisition(ACQ_START_FLAGS flags, uint64_t count) = 0;
    virtual void StopAcquisition(ACQ_STOP_FLAGS flags) = 0;
    // BUFFER_INFO of one of this stream's buffers (see RequireOwnBuffer).
    virtual void GetBufferInfo(CBufferInfo* buffer, BUFFER_INFO_CMD cmd, INFO_DATATYPE* type, void* out,
                               size_t* size) = 0;
    // The new-buffer event's Kill: buffers with the driver complete as cancelled and are delivered.
    virtual void CancelPendingRequests() = 0;

    const std::string& GetID() const { return m_id; }
    uint32_t GetIndex() const { return m_index; }
    CDevice* GetParent() const { return m_device; }
    CEventError& GetErrorEvent() { return m_errorEvent; }
    CDataStreamEventNewBuffer& GetNewBufferEvent() { return *m_newBufferEvent; }

protected:
    // Makes the buffer object of an announce; a transport with per-buffer request state returns its own.
    virtual CBufferInfo* MakeBuffer(void* buffer, size_t size, void* userPointer);
    // Called after a buffer joined the input queue (from QueueBuffer and the flushes that fill it).
    virtual void OnBufferQueued() {}
    // Called (no lock held) by a consumer about to wait for a new buffer while none is ready: a transport
    // may take the next one from its driver on this thread (and Deliver it) rather than have another
    // thread wake the consumer. Returns by `until` at the latest; the consumer then waits as usual.
    virtual void FetchForConsumer(std::chrono::steady_clock::time_point until) { (void)until; }
    // Throws runtime_error "Invalid Device Handle" for a buffer that is not announced on this stream.
    void RequireOwnBuffer(CBufferInfo* buffer);

    // For the transport's threads.
    // The oldest buffer of the input queue, taken out of it; null when the queue is empty.
    CBufferInfo* PopInput();
    // The buffer is now with the driver (acquiring), behind the ones already there.
    void AddToDriver(CBufferInfo* buffer);
    // The oldest buffer with the driver, or null; it stays in the driver queue.
    CBufferInfo* OldestWithDriver();
    size_t NumWithDriver();
    // The buffers with the driver now, oldest first.
    std::vector<CBufferInfo*> BuffersWithDriver();
    // The buffer leaves the driver queue (when it was there) for the output queue and wakes a waiting
    // consumer. `completed`: a finished transfer (new data, counted as delivered) rather than a buffer
    // that could not be handed to the driver.
    void Deliver(CBufferInfo* buffer, bool completed);
    // While set, consumers waiting for a new buffer give up with "Wait terminated".
    void SetWaitStop(bool stop);

private:
    CEventObj& EventSourceOf(EVENT_TYPE type);
    bool IsAnnounced(CBufferInfo* buffer) const;
    void AppendInput(CBufferInfo* buffer);

    CDevice* m_device;
    uint32_t m_index;
    std::string m_id;
    CEventError m_errorEvent;
    std::unique_ptr<CDataStreamEventNewBuffer> m_newBufferEvent;

    std::mutex m_lock;
    std::condition_variable m_outputReady;
    std::vector<CBufferInfo*> m_announced;
    std::deque<CBufferInfo*> m_input;
    std::deque<CBufferInfo*> m_driver;
    std::deque<CBufferInfo*> m_output;
    uint64_t m_delivered = 0;
    bool m_waitStop = false;
};

// Writes the event data of one delivered buffer into the consumer's buffer: at most *size bytes of the
// record; *size becomes the bytes written.
void CopyNewBufferEventData(const CBufferInfo& delivered, void* buffer, size_t* size);

} // namespace GenICam::Client
