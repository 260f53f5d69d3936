// One announced buffer of a GigE data stream with the state of its request to the service.
#include "CGigEBufferInfo.h"

namespace GenICam::Client {

CGigEBufferInfo::CGigEBufferInfo(void* memory, size_t size, void* userPointer,
                                 std::unique_ptr<qorcam::devio::Region> region, uint32_t regionId,
                                 qorcam::devio::DeviceHandle* driver)
    : CBufferInfo(memory, size, userPointer), m_region(std::move(region)), m_regionId(regionId),
      m_driver(driver) {}

CGigEBufferInfo::~CGigEBufferInfo() {
    // A request still with the service is cancelled and forgotten by the record's destructor; the
    // service keeps its own mapping of the region, so its writes never reach freed memory.
    if (m_region && m_driver) m_driver->UnregisterRegion(m_regionId);
}

} // namespace GenICam::Client
