// The GigE data stream module: "DS0" takes the camera's images, "DS1" the service's frame-start notices.
#pragma once

#include "HeldUdpPort.h"
#include "gentl/CDataStream.h"
#include "os/Event.h"
#include "os/Semaphore.h"
#include "os/Thread.h"

#include <atomic>
#include <memory>

namespace GenICam::Client {

class CGigEDevice;
class CGigEBufferInfo;

// While acquiring, an execution thread hands queued buffers to the service (at most ten at a time) and
// a wait thread collects them, oldest first, into the output queue. "DS0" first sets up the camera's
// stream channel 0 and the service's stream; a set-up failure is reported on the error event and the
// stream then takes nothing. Every buffer handed over comes back: completed, failed or cancelled, with
// its status in BUFFER_INFO_CUSTOM_STATUS.
class CGigEDataStream : public CDataStream {
public:
    CGigEDataStream(CGigEDevice* device, uint32_t index, std::string id);
    ~CGigEDataStream() override;

    // Stream registers (sizes must match exactly; anything else answers size 0).
    void Read(uint64_t address, void* buffer, size_t* size) override;
    void Write(uint64_t address, const void* buffer, size_t* size) override;

    void StartAcquisition(ACQ_START_FLAGS flags, uint64_t count) override;
    void StopAcquisition(ACQ_STOP_FLAGS flags) override;
    void GetBufferInfo(CBufferInfo* buffer, BUFFER_INFO_CMD cmd, INFO_DATATYPE* type, void* out,
                       size_t* size) override;
    void CancelPendingRequests() override;

protected:
    CBufferInfo* MakeBuffer(void* buffer, size_t size, void* userPointer) override;
    void OnBufferQueued() override { m_bufferQueued.Set(); }

private:
    bool SetUpStream();
    void TearDownStream();
    void ExecThread();
    void WaitThread();
    // Hands one buffer to the service; false when it came straight back.
    bool HandOver(CGigEBufferInfo* buffer);
    // A buffer whose request has ended: its status and bytes are taken, its image copied where needed,
    // and it goes to the output queue.
    void Complete(CGigEBufferInfo* buffer);
    void ReportError(const std::string& text);
    size_t InputCount();
    void JoinThreads();

    CGigEDevice* m_device;
    // Written by the consumer at any time, read by the stream's threads.
    std::atomic<uint32_t> m_packetCount{0};
    std::atomic<uint32_t> m_infoOffset{0};
    std::atomic<uint32_t> m_resendEnable{1};
    std::atomic<uint32_t> m_port{0};
    uint32_t m_multicastGroup = 0; // network order; 0 = unicast
    qorcam::gige::HeldUdpPort m_socket;

    std::unique_ptr<qorcam::os::Thread> m_execThread, m_waitThread;
    qorcam::os::Event m_execStop{qorcam::os::ResetMode::Manual}, m_execStarted{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_bufferQueued{qorcam::os::ResetMode::Auto}, m_execEnded{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_waitStop{qorcam::os::ResetMode::Manual}, m_waitStarted{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_requestPending{qorcam::os::ResetMode::Auto},
        m_waitEnded{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_cancelRequest{qorcam::os::ResetMode::Auto}, m_cancelDone{qorcam::os::ResetMode::Auto};
    qorcam::os::Semaphore m_slots{10, 10};
};

} // namespace GenICam::Client
