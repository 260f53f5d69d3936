// The action-acknowledge event source of the GigE interface (EVENT_CUSTOM_ACTION_ACK).
#pragma once

#include "gentl/CEventQueue.h"
#include "gentl/CEventThread.h"

namespace qorcam::devio {
class DeviceHandle;
}

namespace GenICam::Client {

// While registered, a thread keeps five action-acknowledge waits with the service and queues one entry
// (the acknowledging camera's MAC) per completion, in the order the waits were sent. Start and Stop
// return once the thread has started or ended.
class CAckData : public CEventQueue<AckDataEntry> {
public:
    explicit CAckData(qorcam::devio::DeviceHandle& driver);
    ~CAckData() override;

    // Throws runtime_error "Unable to start Exec_Thread" when the thread can't be made.
    void Start() override;
    void Stop() override;

private:
    void ExecThread();

    qorcam::devio::DeviceHandle& m_driver;
    CEventThread m_thread{"AckExec"};
};

} // namespace GenICam::Client
