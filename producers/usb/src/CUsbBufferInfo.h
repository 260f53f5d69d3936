// One announced buffer of a USB3 Vision data stream with the record of its transfer.
#pragma once

#include "devio/DeviceHandle.h"
#include "devio/Overlapped.h"
#include "devio/Region.h"
#include "gentl/CBufferInfo.h"

#include <memory>

namespace GenICam::Client {

// The service writes each block into shared memory registered with it. Memory the producer allocates
// is that shared memory itself; memory the consumer gives gets a shared shadow of the same size,
// copied into the consumer's memory once per completed block. A buffer without shared memory (the
// notice stream's, or one of size 0) takes no data. `overlapped` records the buffer's transfer; the
// stream copies its status and byte count into the buffer's status and bytes when it ends.
class CUsbBufferInfo : public CBufferInfo {
public:
    // `region` (may be null) is registered with `driver` under `regionId`; `memory` is what the
    // consumer sees (the region's data when the producer allocated the buffer).
    CUsbBufferInfo(void* memory, size_t size, void* userPointer,
                   std::unique_ptr<qorcam::devio::Region> region, uint32_t regionId,
                   qorcam::devio::DeviceHandle* driver);
    ~CUsbBufferInfo() override;

    // Where the service writes: the shared memory (null when the buffer has none).
    uint8_t* Target() const { return m_region ? m_region->Data() : nullptr; }
    bool HasShadow() const { return m_region && m_region->Data() != GetBase(); }
    uint32_t RegionId() const { return m_regionId; }
    // The memory is the producer's own: a revoke hands no memory back.
    bool ProducerMemory() const { return m_region && m_region->Data() == GetBase(); }

    qorcam::devio::Overlapped overlapped;

private:
    std::unique_ptr<qorcam::devio::Region> m_region;
    uint32_t m_regionId;
    qorcam::devio::DeviceHandle* m_driver;
};

} // namespace GenICam::Client
