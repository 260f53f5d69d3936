// An announced buffer whose data a service writes in place, into shared memory registered with it.
#pragma once

#include "devio/DeviceHandle.h"
#include "devio/Overlapped.h"
#include "devio/Region.h"
#include "gentl/CBufferInfo.h"

#include <memory>

namespace GenICam::Client {

// A buffer with shared memory is written by the service in place. Memory the producer allocates is that
// shared memory itself; memory the consumer gives gets a shared shadow of the same size, which the
// stream copies into the consumer's memory once per completed transfer (the one copy it costs). A
// buffer without shared memory takes no data. The shared memory is unregistered from the service when
// the buffer goes; the service keeps its own mapping, so a late write never reaches freed memory.
// `overlapped` records the buffer's one request at a time with the service.
class CSharedBufferInfo : public CBufferInfo {
public:
    // With a null `driver`: no shared memory; `memory` is used as it is, or `size` bytes of the buffer's
    // own when null. Else `size` (1 or more) bytes of shared memory registered with `driver`, which must
    // outlive the buffer; a null `memory` makes that memory what the consumer sees. `room` more bytes
    // behind them, unseen by the consumer, take what the service writes beside the data (block
    // information a consumer that sized its buffers for the payload alone has no room for). Throws
    // runtime_error "Memory Alloc Error" when the memory can't be had or registered.
    CSharedBufferInfo(void* memory, size_t size, void* userPointer, qorcam::devio::DeviceHandle* driver,
                      size_t room = 0);
    // Consumer `memory` that is the mapping of a shared memory file: `view` is this buffer's own mapping
    // of the same file (at least `size` bytes), registered with `driver`, so the service writes straight
    // into the consumer's memory and no copy is made. Throws as above.
    CSharedBufferInfo(void* memory, size_t size, void* userPointer,
                      std::unique_ptr<qorcam::devio::Region> view, qorcam::devio::DeviceHandle& driver);
    ~CSharedBufferInfo() override;

    // Where the service writes: the shared memory (null when the buffer has none).
    uint8_t* Target() const { return m_region ? m_region->Data() : nullptr; }
    // Bytes at Target(): the buffer's size and the room behind it (0 without shared memory).
    uint64_t TargetSize() const { return m_region ? m_region->Size() : 0; }
    bool HasShadow() const { return m_region && !m_aliased && m_region->Data() != GetBase(); }
    uint32_t RegionId() const { return m_regionId; }
    // Also true for shared memory the producer allocated: a revoke hands no memory back.
    bool OwnsMemory() const override;

    qorcam::devio::Overlapped overlapped;

private:
    struct Shared {
        std::unique_ptr<qorcam::devio::Region> region;
        uint32_t id = 0;
    };
    static Shared Register(size_t size, qorcam::devio::DeviceHandle& driver);
    static Shared Register(std::unique_ptr<qorcam::devio::Region> region,
                           qorcam::devio::DeviceHandle& driver);
    CSharedBufferInfo(void* memory, size_t size, void* userPointer, Shared shared,
                      qorcam::devio::DeviceHandle* driver);

    std::unique_ptr<qorcam::devio::Region> m_region;
    uint32_t m_regionId;
    qorcam::devio::DeviceHandle* m_driver;
    // The shared memory is another mapping of the consumer's own memory file.
    bool m_aliased = false;
};

} // namespace GenICam::Client
