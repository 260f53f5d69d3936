// The USB3 Vision data stream module: "DS0" reads the camera's blocks, "DS1" waits for block starts.
#pragma once

#include "gentl/CThreadedDataStream.h"

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
class CUsbDataStream : public CThreadedDataStream {
public:
    static constexpr size_t kSlots = 10;

    CUsbDataStream(CUsbDevice* device, uint32_t index, std::string id);
    ~CUsbDataStream() override;

    // Stream registers 0x106, 0x107, 0x108 take exactly 4 bytes; anything else, and every read,
    // answers size 0.
    void Read(uint64_t address, void* buffer, size_t* size) override;
    void Write(uint64_t address, const void* buffer, size_t* size) override;

    // Leader and trailer fields are read only where they lie wholly inside the buffer; else 0.
    void GetBufferInfo(CBufferInfo* buffer, BUFFER_INFO_CMD cmd, INFO_DATATYPE* type, void* out,
                       size_t* size) override;

protected:
    CBufferInfo* MakeBuffer(void* buffer, size_t size, void* userPointer) override;
    void ExecThread() override;
    void WaitThread() override;
    void ReturnAfterStop(CBufferInfo* buffer) override;
    // Buffers queued before the start go to the service now.
    void OnStarted() override { m_bufferQueued.Set(); }

private:
    // Programs the stream interface and the service; false (with the error reported) on failure.
    bool SetUpStream();
    // Takes the ended transfer's status and byte count, copies a shadow into the consumer's memory and
    // moves the buffer to the output queue; returns the status.
    uint32_t Complete(CUsbBufferInfo* buffer);

    CUsbDevice* m_device;
    // Written by the consumer at any time, read by the stream's threads.
    std::atomic<uint32_t> m_transferOverride{0};
    std::atomic<uint32_t> m_leaderOffset{0};
    std::atomic<uint32_t> m_trailerOffset{0};
    std::atomic<uint64_t> m_payloadSize{0};
    // A consumer that never writes the leader and trailer offsets (it knows only the standard) gets the
    // layout from the camera: payload from 0, leader and trailer in room behind the buffer's own bytes.
    std::atomic<bool> m_layoutWritten{false};
    std::atomic<uint32_t> m_autoLeader{0};
    std::atomic<uint32_t> m_autoTrailer{0};
    std::atomic<uint32_t> m_autoReadLength{0};
    std::atomic<bool> m_lost{false};
};

} // namespace GenICam::Client
