// The camera-event source of a GigE device (EVENT_CUSTOM_DEVICE_EVENT).
#pragma once

#include "HeldUdpPort.h"
#include "gentl/CEventQueue.h"
#include "gentl/CEventThread.h"

namespace GenICam::Client {

class CGigEDevice;

// While registered, the device holds a host event port, the service has an event channel from the
// camera's message channel to it, and a thread keeps five event requests with the service, queueing
// each camera event record (548 bytes) in the order the requests were sent. Start returns once the
// camera's message channel points at the port; Stop once the channel is closed and the port released.
class CEventData : public CEventQueue<EventDataEntry> {
public:
    explicit CEventData(CGigEDevice& device) : m_device(device) {}
    ~CEventData() override;

    // Throws runtime_error "socket Error", "IOCTL_GIGE_PortAlloc Error", "IOCTL_GIGE_SetEventInfo Error"
    // or "Unable to start Exec_Thread", or what the camera's register access throws; nothing stays held.
    void Start() override;
    void Stop() override;

private:
    void ExecThread();
    void FreePort();

    CGigEDevice& m_device;
    qorcam::gige::HeldUdpPort m_socket;
    CEventThread m_thread{"EventExec"};
};

} // namespace GenICam::Client
