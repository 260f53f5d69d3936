// One announced buffer of a GigE data stream with the state of its request to the service.
#pragma once

#include "GigeRecords.h"
#include "devio/DeviceHandle.h"
#include "devio/Region.h"
#include "gentl/CBufferInfo.h"

#include <memory>

namespace GenICam::Client {

// The service writes images into shared memory registered with it. Memory the producer allocates is
// that shared memory itself; memory the consumer gives gets a shared shadow of the same size, copied
// into the consumer's memory once per completed image. A buffer without room (size 0, or on the
// frame-start stream) has no shared memory and takes no image.
class CGigEBufferInfo : public CBufferInfo {
public:
    // `region` (may be null) is the buffer's shared memory, registered with `driver` under `regionId`;
    // `memory` is what the consumer sees (the region's data for producer-allocated buffers).
    CGigEBufferInfo(void* memory, size_t size, void* userPointer,
                    std::unique_ptr<qorcam::devio::Region> region, uint32_t regionId,
                    qorcam::devio::DeviceHandle* driver);
    ~CGigEBufferInfo() override;

    // Where the service writes: the shared memory (null when the buffer has none).
    uint8_t* Target() const { return m_region ? m_region->Data() : nullptr; }
    bool HasShadow() const { return m_region && m_region->Data() != GetBase(); }
    uint32_t RegionId() const { return m_regionId; }

    qorcam::devio::Overlapped overlapped;
    uint8_t block[sizeof(qorcam::gige::GigeRequestBlock)] = {};

private:
    std::unique_ptr<qorcam::devio::Region> m_region;
    uint32_t m_regionId;
    qorcam::devio::DeviceHandle* m_driver;
};

} // namespace GenICam::Client
