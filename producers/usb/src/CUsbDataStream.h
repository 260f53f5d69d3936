// The USB3 Vision data stream module: "DS0" reads the camera's blocks, "DS1" waits for block starts.
#pragma once

#include "gentl/CDataStream.h"
#include "os/Event.h"
#include "os/Thread.h"

#include <atomic>
#include <memory>

namespace GenICam::Client {

class CUsbDevice;
class CUsbBufferInfo;

// While acquiring, an execution thread hands queued buffers to the service (at most ten at a time) and
// a wait thread returns them, oldest first, to the output queue. "DS0" first programs the camera's
// stream interface and tells the service the buffer layout (payload from 0, leader and trailer at the
// offsets written to registers 0x107 and 0x108); a set-up failure is reported on the error event and
// the stream then takes nothing. A camera found gone puts the stream in a lost state until it closes:
// queued buffers come back failed every 50 ms. Every buffer handed over comes back.
class CUsbDataStream : public CDataStream {
public:
    static constexpr size_t kSlots = 10;

    CUsbDataStream(CUsbDevice* device, uint32_t index, std::string id);
    ~CUsbDataStream() override;

    // Stream registers 0x106, 0x107, 0x108 take exactly 4 bytes; anything else, and every read,
    // answers size 0.
    void Read(uint64_t address, void* buffer, size_t* size) override;
    void Write(uint64_t address, const void* buffer, size_t* size) override;

    void StartAcquisition(ACQ_START_FLAGS flags, uint64_t count) override;
    void StopAcquisition(ACQ_STOP_FLAGS flags) override;
    // Leader and trailer fields are read only where they lie wholly inside the buffer; else 0.
    void GetBufferInfo(CBufferInfo* buffer, BUFFER_INFO_CMD cmd, INFO_DATATYPE* type, void* out,
                       size_t* size) override;
    void CancelPendingRequests() override;

protected:
    CBufferInfo* MakeBuffer(void* buffer, size_t size, void* userPointer) override;
    void OnBufferQueued() override { m_bufferQueued.Set(); }

private:
    // Programs the stream interface and the service; false (with the error reported) on failure.
    bool SetUpStream();
    void ExecThread();
    void WaitThread();
    void ReportError(const std::string& text);
    // Takes the ended transfer's status and byte count, copies a shadow into the consumer's memory and
    // moves the buffer to the output queue; returns the status.
    uint32_t Complete(CUsbBufferInfo* buffer);
    void JoinThreads();
    std::string ExecName() const { return GetIndex() == 0 ? "DataExec_Thread" : "SyncExec_Thread"; }

    CUsbDevice* m_device;
    // Written by the consumer at any time, read by the stream's threads.
    std::atomic<uint32_t> m_transferOverride{0};
    std::atomic<uint32_t> m_leaderOffset{0};
    std::atomic<uint32_t> m_trailerOffset{0};
    std::atomic<uint64_t> m_payloadSize{0};
    std::atomic<bool> m_lost{false};
    std::unique_ptr<qorcam::os::Thread> m_execThread, m_waitThread;
    qorcam::os::Event m_execStop{qorcam::os::ResetMode::Manual}, m_execStarted{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_bufferQueued{qorcam::os::ResetMode::Auto}, m_execEnded{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_waitStop{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_requestPending{qorcam::os::ResetMode::Auto};
    qorcam::os::Event m_abort{qorcam::os::ResetMode::Auto}, m_abortDone{qorcam::os::ResetMode::Auto};
};

} // namespace GenICam::Client
