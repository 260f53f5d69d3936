// One announced buffer of a USB3 Vision data stream with the record of its transfer.
#include "CUsbBufferInfo.h"

namespace GenICam::Client {

CUsbBufferInfo::CUsbBufferInfo(void* memory, size_t size, void* userPointer,
                               std::unique_ptr<qorcam::devio::Region> region, uint32_t regionId,
                               qorcam::devio::DeviceHandle* driver)
    : CBufferInfo(memory, size, userPointer), m_region(std::move(region)), m_regionId(regionId),
      m_driver(driver) {}

CUsbBufferInfo::~CUsbBufferInfo() {
    // A transfer still in flight is cancelled and forgotten by the record's destructor; the service
    // keeps its own mapping of the region, so its writes never reach freed memory.
    if (m_region && m_driver) m_driver->UnregisterRegion(m_regionId);
}

} // namespace GenICam::Client
