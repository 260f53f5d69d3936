// An announced buffer whose data a service writes in place, into shared memory registered with it.
#include "gentl/CSharedBufferInfo.h"

#include <cstdint>
#include <stdexcept>

namespace GenICam::Client {

CSharedBufferInfo::Shared CSharedBufferInfo::Register(size_t size, qorcam::devio::DeviceHandle& driver) {
    return Register(qorcam::devio::Region::Create(size), driver);
}

CSharedBufferInfo::Shared CSharedBufferInfo::Register(std::unique_ptr<qorcam::devio::Region> region,
                                                      qorcam::devio::DeviceHandle& driver) {
    Shared shared;
    shared.region = std::move(region);
    if (!shared.region) throw std::runtime_error("Memory Alloc Error");
    if (driver.RegisterRegion(*shared.region, &shared.id) != qorcam::devio::STATUS_SUCCESS)
        throw std::runtime_error("Memory Alloc Error");
    return shared;
}

CSharedBufferInfo::CSharedBufferInfo(void* memory, size_t size, void* userPointer,
                                     qorcam::devio::DeviceHandle* driver, size_t room)
    : CSharedBufferInfo(memory, size, userPointer,
                        driver ? Register(size > SIZE_MAX - room ? SIZE_MAX : size + room, *driver) : Shared{},
                        driver) {}

CSharedBufferInfo::CSharedBufferInfo(void* memory, size_t size, void* userPointer,
                                     std::unique_ptr<qorcam::devio::Region> view,
                                     qorcam::devio::DeviceHandle& driver)
    : CSharedBufferInfo(memory, size, userPointer, Register(std::move(view), driver), &driver) {
    m_aliased = true;
}

CSharedBufferInfo::CSharedBufferInfo(void* memory, size_t size, void* userPointer, Shared shared,
                                     qorcam::devio::DeviceHandle* driver)
    : CBufferInfo(memory || !shared.region ? memory : shared.region->Data(), size, userPointer),
      m_region(std::move(shared.region)), m_regionId(shared.id), m_driver(driver) {}

CSharedBufferInfo::~CSharedBufferInfo() {
    // A request still with the service is cancelled and forgotten by the record's destructor.
    if (m_region) m_driver->UnregisterRegion(m_regionId);
}

bool CSharedBufferInfo::OwnsMemory() const {
    return CBufferInfo::OwnsMemory() || (m_region && m_region->Data() == GetBase());
}

} // namespace GenICam::Client
