// The camera-event source of a USB3 Vision device (EVENT_CUSTOM_DEVICE_EVENT).
#include "CEventData.h"

#include "CUsbDevice.h"
#include "UsbService.h"
#include "os/WaitAny.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>

namespace GenICam::Client {

using namespace qorcam;
using namespace qorcam::usb;

CEventData::~CEventData() {
    if (m_thread) Stop();
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
    if (m_thread) return CEventQueue::Start();
    m_stop.Reset();
    m_started.Reset();
    m_finished.Reset();
    m_setupFailed = false;
    // Entries of the first events must not be dropped: the queue is active before the camera sends.
    CEventQueue::Start();
    auto thread = std::make_unique<os::Thread>("EventExec");
    if (!thread->Start([this] { ExecThread(); }, os::ThreadPriority::TimeCritical)) {
        CEventQueue::Stop();
        throw std::runtime_error("Unable to start Exec_Thread");
    }
    m_started.Wait(os::kInfinite);
    if (m_setupFailed) {
        thread->Join();
        CEventQueue::Stop();
        throw std::runtime_error("Unable to start Exec_Thread");
    }
    m_thread = std::move(thread);
}

void CEventData::Stop() {
    if (m_thread) {
        m_stop.Set();
        m_finished.Wait(os::kInfinite);
        m_thread->Join();
        m_thread.reset();
    }
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
        m_setupFailed = true;
        m_started.Set();
        m_finished.Set();
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
    try {
        m_device.Port().WriteRegister(eiControl, 1);
    } catch (...) {
        // The camera can't send events here: the registration fails and nothing keeps running.
        m_setupFailed = true;
    }
    if (!m_setupFailed) {
        m_started.Set();
        for (size_t k = 0;; k = (k + 1) % kSlots) {
            if (!armed[k]) {
                const bool anyArmed = std::find(armed.begin(), armed.end(), true) != armed.end();
                if (m_stop.Wait(anyArmed ? 0 : os::kInfinite)) break;
                continue;
            }
            if (os::WaitAny({&m_stop, &slots[k].CompletionEvent()}, os::kInfinite) != 1) break;
            uint64_t bytes = 0;
            const uint32_t status = driver.GetOverlappedResult(slots[k], &bytes, true);
            // Only the bytes that came back are queued, never more than the slot holds.
            const size_t n = std::min<uint64_t>({bytes, slots[k].OutputBytes(), room});
            if (devio::NtSuccess(status) && n > 0) Push(std::make_unique<EventDataEntry>(data[k].data(), n));
            armed[k] = arm(k);
        }
    }
    driver.CancelIo();
    for (auto& slot : slots)
        driver.GetOverlappedResult(slot, nullptr, true);
    try {
        m_device.Port().WriteRegister(eiControl, 0);
    } catch (...) {
    }
    m_started.Set();
    m_finished.Set();
}

} // namespace GenICam::Client
