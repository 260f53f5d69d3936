// The action-acknowledge event source of the GigE interface (EVENT_CUSTOM_ACTION_ACK).
#include "CAckData.h"

#include "GigeIoctl.h"
#include "devio/DeviceHandle.h"
#include "os/WaitAny.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace GenICam::Client {

using namespace qorcam;

CAckData::CAckData(devio::DeviceHandle& driver) : m_driver(driver) {}

CAckData::~CAckData() {
    if (m_thread) Stop();
}

void CAckData::Start() {
    // A second registration keeps the thread that runs.
    if (m_thread) return CEventQueue::Start();
    m_stop.Reset();
    m_started.Reset();
    m_finished.Reset();
    auto thread = std::make_unique<os::Thread>("AckExec");
    if (!thread->Start([this] { ExecThread(); }, os::ThreadPriority::TimeCritical))
        throw std::runtime_error("Unable to start Exec_Thread");
    m_started.Wait(os::kInfinite);
    m_thread = std::move(thread);
    CEventQueue::Start();
}

void CAckData::Stop() {
    if (m_thread) {
        m_stop.Set();
        m_finished.Wait(os::kInfinite);
        m_thread->Join();
        m_thread.reset();
    }
    CEventQueue::Stop();
}

void CAckData::ExecThread() {
    constexpr int kSlots = 5;
    std::array<devio::Overlapped, kSlots> slots;
    std::array<uint64_t, kSlots> answers{};
    std::array<bool, kSlots> armed{};
    auto arm = [&](int k) {
        answers[k] = 0;
        const uint32_t status = m_driver.DeviceIoControl(qorcam::gige::IOCTL_GIGE_WaitActionAck, nullptr, 0,
                                                         &answers[k], sizeof answers[k], slots[k]);
        // A service that is gone answers every request at once; such a slot is left idle.
        armed[k] = status != devio::STATUS_DEVICE_NOT_CONNECTED && status != devio::STATUS_INVALID_HANDLE;
    };
    for (int k = 0; k < kSlots; ++k)
        arm(k);
    m_started.Set();
    for (int k = 0;; k = (k + 1) % kSlots) {
        if (!armed[k]) {
            if (m_stop.Wait(std::find(armed.begin(), armed.end(), true) == armed.end() ? os::kInfinite : 0))
                break;
            continue;
        }
        const int which = os::WaitAny({&m_stop, &slots[k].CompletionEvent()}, os::kInfinite);
        if (which != 1) break;
        if (devio::NtSuccess(slots[k].Status())) Push(std::make_unique<AckDataEntry>(answers[k]));
        arm(k);
    }
    m_driver.CancelIo();
    for (auto& slot : slots)
        m_driver.GetOverlappedResult(slot, nullptr, true);
    m_finished.Set();
}

} // namespace GenICam::Client
