// The camera-event source of a USB3 Vision device (EVENT_CUSTOM_DEVICE_EVENT).
#include "CEventData.h"

#include "CUsbDevice.h"
#include "UsbService.h"
#include "gentl/ServeSlotsInOrder.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>

namespace GenICam::Client {

using namespace qorcam;
using namespace qorcam::usb;

CEventData::~CEventData() {
    if (m_thread.Running()) Stop();
}

bool CEventData::GetData(void* buffer, size_t* size, uint64_t timeout) {
    if (size && *size > 0 && !buffer) throw std::invalid_argument("Invalid buffer");
    try {
        return CEventQueue::GetData(buffer, size, timeout);
    } catch (const std::invalid_argument& e) {
        if (std::string(e.what()) == "Buffer too small") throw std::invalid_argument("Invalid buffer Size");
        throw;
    }
}

void CEventData::Start() {
    // A second registration keeps the thread that runs.
    if (m_thread.Running()) return CEventQueue::Start();
    // Entries of the first events must not be dropped: the queue is active before the camera sends.
    CEventQueue::Start();
    try {
        m_thread.Start([this] { ExecThread(); });
    } catch (...) {
        CEventQueue::Stop();
        throw;
    }
}

void CEventData::Stop() {
    m_thread.Stop();
    CEventQueue::Stop();
}

void CEventData::ExecThread() {
    devio::DeviceHandle& driver = m_device.Driver();
    const size_t room =
        std::min<size_t>(std::max<size_t>(m_device.Info().GetMaxEventTransfer(), 12), kMaxEventRoom);
    std::array<std::vector<uint8_t>, kSlots> data;
    std::array<devio::Overlapped, kSlots> slots;
    std::array<bool, kSlots> armed{};
    try {
        for (auto& d : data)
            d.resize(room);
    } catch (...) {
        m_thread.SetUpFailed();
        return;
    }
    auto arm = [&](size_t k) {
        const uint32_t status =
            driver.DeviceIoControl(usbdrv::IOCTL_USB_GetEvent, nullptr, 0, data[k].data(), room, slots[k]);
        // A request refused at once (a service that is gone refuses all) is not sent again: the slot
        // would only spin.
        return status == devio::STATUS_PENDING || devio::NtSuccess(status);
    };
    for (size_t k = 0; k < kSlots; ++k)
        armed[k] = arm(k);
    const uint64_t eiControl = m_device.Info().GetEirmAddress();
    bool setUp = true;
    try {
        m_device.Port().WriteRegister(eiControl, 1);
    } catch (...) {
        // The camera can't send events here: the registration fails and nothing keeps running.
        setUp = false;
        m_thread.SetUpFailed();
    }
    if (setUp) {
        m_thread.Started();
        gentl::ServeSlotsInOrder(m_thread.StopEvent(), slots, armed, [&](size_t k) {
            uint64_t bytes = 0;
            const uint32_t status = driver.GetOverlappedResult(slots[k], &bytes, true);
            // Only the bytes that came back are queued, never more than the slot holds.
            const size_t n = std::min<uint64_t>({bytes, slots[k].OutputBytes(), room});
            if (devio::NtSuccess(status) && n > 0) Push(std::make_unique<EventDataEntry>(data[k].data(), n));
            return arm(k);
        });
    }
    driver.CancelIo();
    for (auto& slot : slots)
        driver.GetOverlappedResult(slot, nullptr, true);
    try {
        m_device.Port().WriteRegister(eiControl, 0);
    } catch (...) {
    }
}

} // namespace GenICam::Client
