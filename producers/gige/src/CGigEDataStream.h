// The GigE data stream module: "DS0" takes the camera's images, "DS1" the service's frame-start notices.
#pragma once

#include "HeldUdpPort.h"
#include "devio/DeviceHandle.h"
#include "devio/Region.h"
#include "gentl/CThreadedDataStream.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <span>

namespace GenICam::Client {

class CGigEDevice;
class CGigEBufferInfo;

// While acquiring, queued buffers go to the service (at most ten at a time) and a wait thread collects
// them, oldest first, into the output queue. A buffer goes to the service from the thread that makes
// that possible: the consumer's that queues it while a slot is free, or the wait thread's that frees a
// slot while buffers wait; the execution thread sets the stream up, hands over what was queued before
// the start, and cancels; while a consumer fetches, queued buffers go over in batches (HoldBack).
// Completions are read from the service's socket by a consumer waiting for a new buffer, or else by the
// wait thread (see m_collectRole). "DS0" first sets up the camera's stream channel 0 and the service's
// stream; a set-up failure is reported on the error event and the stream then takes nothing. Every buffer
// handed over comes back: completed, failed or cancelled, with its status in BUFFER_INFO_CUSTOM_STATUS.
class CGigEDataStream : public CThreadedDataStream {
public:
    CGigEDataStream(CGigEDevice* device, uint32_t index, std::string id);
    ~CGigEDataStream() override;

    // Stream registers (sizes must match exactly; anything else answers size 0).
    void Read(uint64_t address, void* buffer, size_t* size) override;
    void Write(uint64_t address, const void* buffer, size_t* size) override;

    void GetBufferInfo(CBufferInfo* buffer, BUFFER_INFO_CMD cmd, INFO_DATATYPE* type, void* out,
                       size_t* size) override;

protected:
    CBufferInfo* MakeBuffer(void* buffer, size_t size, void* userPointer) override;
    void ExecThread() override;
    void WaitThread() override;
    // Takes the cancelled request's result and frees its slot.
    void ReturnAfterStop(CBufferInfo* buffer) override;
    // Every slot is free at a start.
    void OnStarting() override;
    void OnBufferQueued() override;
    void OnWaitStop() override;
    // A consumer waiting for a new buffer reads the next completion from the service's socket itself, so
    // the service's answer wakes it directly rather than the wait thread, which would wake it in turn.
    void FetchForConsumer(std::chrono::steady_clock::time_point until) override;

private:
    bool SetUpStream();
    void TearDownStream();
    // Hands buffers (at most ten) to the service in one write; those it can't take come straight back.
    // m_handOverMutex held.
    void HandOver(std::span<CGigEBufferInfo*> buffers);
    // Readies one buffer's request (its span in *span); false when the buffer can't go (it came back).
    bool ReadyHandOver(CGigEBufferInfo* buffer, qorcam::devio::PostedRequest* request,
                       qorcam::devio::RegionSpan* span);
    // A buffer whose hand-over failed goes to the output queue incomplete, and its slot is freed.
    void HandOverFailed(CGigEBufferInfo* buffer, uint32_t status);
    // While hand-overs are open: queued buffers go to the service as long as slots are free, unless
    // they are held back (HoldBack).
    void PumpHandOvers();
    // Queued buffers wait client-side for now: a consumer fetches, fewer than a batch of slots are free,
    // and they have not waited HoldBackNs() yet. m_handOverMutex held.
    bool HoldBack() const;
    // The longest a queued buffer is held back while slots are free: a few frames at the stream's rate.
    int64_t HoldBackNs() const;
    // The time of `frames` frames at the stream's rate, within 2-50 ms (50 ms before the rate is known).
    int64_t FramesNs(int64_t frames) const;
    // Asks the service to cancel every request of a buffer with it. m_handOverMutex held.
    void CancelWithDriver();
    // A buffer whose request has ended: its status and bytes are taken, its image copied where needed,
    // and it goes to the output queue.
    void Complete(CGigEBufferInfo* buffer);
    // The oldest buffer with the service, once its request has ended: completed, its slot freed and the
    // next buffers handed over. Waits for it until `until` or `*stop` (no wait without stop); false when
    // none ended. The collect role held.
    bool TakeOldest(const std::atomic<bool>* stop, std::chrono::steady_clock::time_point until);
    // The wait thread's part: takes completions while no consumer does. Returns how long to sleep before
    // it looks again (kInfinite: until woken), 0 once stopped.
    uint32_t CollectOnWaitThread();
    // A consumer fetches now, or did less than kConsumerGraceMs ago, while hand-overs are open.
    bool ConsumerFetches() const;
    // Milliseconds until ConsumerFetches() may turn false (at least 1).
    uint32_t ConsumerGraceLeftMs() const;
    // How long after a consumer left the completions stay its to take: a few frames at the stream's rate.
    int64_t ConsumerGraceNs() const;
    size_t InputCount();

    // Where one buffer's block information goes and how many packets its block has: as the consumer
    // wrote them, or (when it wrote neither) from the buffer's size and the camera's packet size.
    struct BlockLayout {
        uint32_t infoOffset = 0;
        uint32_t packets = 0;
    };
    BlockLayout LayoutFor(const CGigEBufferInfo& buffer) const;
    // Another mapping of the consumer's memory `buffer` from the memory file it named last (consumed by
    // this call); null when it named none, or the file is not that memory or is too small for the block.
    std::unique_ptr<qorcam::devio::Region> MapConsumerMemory(void* buffer, size_t size);
    // The block information of a buffer's last block, or null when the buffer cannot hold it.
    const uint8_t* BlockInfo(const CGigEBufferInfo& buffer) const;

    CGigEDevice* m_device;
    // Written by the consumer at any time, read by the stream's threads.
    std::atomic<uint32_t> m_packetCount{0};
    // A consumer that never writes the layout or the destination (it knows only the standard) gets the
    // stream set up from the camera: destination, layout, and the service's stream enabled at the start.
    std::atomic<bool> m_layoutWritten{false};
    std::atomic<bool> m_destinationWritten{false};
    std::atomic<bool> m_enableWritten{false};
    // Payload bytes per packet, known from the set-up on.
    std::atomic<uint32_t> m_packetPayload{0};
    std::atomic<uint32_t> m_infoOffset{0};
    std::atomic<uint32_t> m_resendEnable{1};
    std::atomic<uint32_t> m_port{0};
    // The descriptor DS_REG_BUFFER_MEMORY named for the next announced buffer; -1 = none.
    std::atomic<int> m_bufferMemory{-1};
    uint32_t m_multicastGroup = 0; // network order; 0 = unicast
    qorcam::gige::HeldUdpPort m_socket;

    // The requests the service may hold at a time: a count nobody sleeps on, taken and given back
    // without a system call (two or three a frame otherwise).
    class Slots {
    public:
        Slots(uint32_t initial, uint32_t maximum) : m_free(initial), m_maximum(maximum) {}
        bool TryAcquire() {
            uint32_t n = m_free.load(std::memory_order_relaxed);
            while (n != 0)
                if (m_free.compare_exchange_weak(n, n - 1, std::memory_order_acquire)) return true;
            return false;
        }
        uint32_t Free() const { return m_free.load(std::memory_order_relaxed); }
        // False (and no change) beyond the maximum, as a semaphore's release.
        bool Release() {
            uint32_t n = m_free.load(std::memory_order_relaxed);
            while (n < m_maximum)
                if (m_free.compare_exchange_weak(n, n + 1, std::memory_order_release)) return true;
            return false;
        }

    private:
        std::atomic<uint32_t> m_free;
        const uint32_t m_maximum;
    };
    Slots m_slots{10, 10};
    // Taking a buffer from the input queue and handing it over is one step under this lock, so the
    // service gets the buffers in the order of the driver queue, and a cancel sees every one.
    std::mutex m_handOverMutex;
    // The thread handing buffers over now (PumpHandOvers), and the asks for it: a thread that asks
    // while another pumps leaves its ask to that one.
    std::atomic<bool> m_pumping{false};
    std::atomic<uint32_t> m_pumpsAsked{0};
    // Set by the execution thread once the stream is set up, cleared (under m_handOverMutex) when it
    // leaves: only then may other threads hand buffers over.
    std::atomic<bool> m_handOversOpen{false};
    // Steady-clock nanoseconds since queued buffers are held back from free slots (HoldBack); 0: none.
    // Written under m_handOverMutex.
    std::atomic<int64_t> m_heldSinceNs{0};
    // Set when the wait thread must stop waiting for a completion.
    std::atomic<bool> m_stopWaiting{false};
    // Who takes the completions from the service: the wait thread, or a consumer waiting for a new
    // buffer (FetchForConsumer), one at a time (the collect role). While consumers come back for their next buffer within
    // kConsumerGraceMs they do, and the wait thread, which looks at that every so often, takes only
    // completions the handle's reader has read meanwhile; otherwise it waits for them as before.
    class CollectRole {
    public:
        bool TryTake() {
            std::lock_guard lock(m_mutex);
            if (m_taken) return false;
            m_taken = true;
            return true;
        }
        bool TakeUntil(std::chrono::steady_clock::time_point until) {
            std::unique_lock lock(m_mutex);
            if (!m_free.wait_until(lock, until, [this] { return !m_taken; })) return false;
            m_taken = true;
            return true;
        }
        void Give() {
            {
                std::lock_guard lock(m_mutex);
                m_taken = false;
            }
            m_free.notify_one();
        }

    private:
        std::mutex m_mutex;
        std::condition_variable m_free;
        bool m_taken = false;
    };
    // Gives the role back when it goes.
    struct HeldRole {
        CollectRole& role;
        ~HeldRole() { role.Give(); }
    };
    CollectRole m_collectRole;
    std::atomic<uint32_t> m_consumersFetching{0};
    // Steady-clock nanoseconds when a consumer last left FetchForConsumer; 0: none since a cancel.
    std::atomic<int64_t> m_consumerLeftNs{0};
    // When the last completion was taken and the smoothed time between completions (0: not known yet).
    std::atomic<int64_t> m_lastCompletionNs{0};
    std::atomic<int64_t> m_completionGapNs{0};
    // Set while the wait thread holds the collect role; a consumer that finds it so asks it to let go
    // through m_interruptWait (also set to stop it).
    std::atomic<bool> m_waitThreadHolds{false};
    std::atomic<bool> m_interruptWait{false};
    // Set while the wait thread sleeps until woken (nothing was with the service).
    std::atomic<bool> m_waitSleepsLong{false};
};

} // namespace GenICam::Client
