// The camera-event source of a USB3 Vision device (EVENT_CUSTOM_DEVICE_EVENT).
#pragma once

#include "gentl/CEventQueue.h"
#include "gentl/CEventThread.h"

namespace GenICam::Client {

class CUsbDevice;

// While registered, a thread keeps five event requests with the service and queues every camera event
// packet (header included, exactly as delivered) in the order the requests were sent; the camera's
// event interface is enabled for that time. Start returns once the interface is enabled; Stop once it
// is disabled again and no request is left with the service.
class CEventData : public CEventQueue<EventDataEntry> {
public:
    static constexpr size_t kSlots = 5;
    // Room of one request: the camera's maximum event transfer length, bounded so that a camera's
    // claim can't make the producer allocate without limit.
    static constexpr size_t kMaxEventRoom = 1 << 20;

    explicit CEventData(CUsbDevice& device) : m_device(device) {}
    ~CEventData() override;

    // A null buffer throws invalid_argument "Invalid buffer"; a buffer below the packet's size
    // "Invalid buffer Size". Waiting and size queries follow the framework's queue.
    bool GetData(void* buffer, size_t* size, uint64_t timeout) override;
    // Throws runtime_error "Unable to start Exec_Thread"; nothing keeps running then.
    void Start() override;
    void Stop() override;

private:
    void ExecThread();

    CUsbDevice& m_device;
    CEventThread m_thread{"EventExec"};
};

} // namespace GenICam::Client
