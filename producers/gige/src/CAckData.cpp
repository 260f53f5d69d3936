// The action-acknowledge event source of the GigE interface (EVENT_CUSTOM_ACTION_ACK).
#include "CAckData.h"

#include "GigeIoctl.h"
#include "GigeService.h"
#include "devio/DeviceHandle.h"

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
    constexpr size_t kSlots = 5;
    std::array<devio::Overlapped, kSlots> slots;
    std::array<uint64_t, kSlots> answers{};
    std::array<bool, kSlots> armed{};
    auto arm = [&](size_t k) {
        answers[k] = 0;
        return qorcam::gige::Taken(m_driver.DeviceIoControl(qorcam::gige::IOCTL_GIGE_WaitActionAck, nullptr,
                                                            0, &answers[k], sizeof answers[k], slots[k]));
    };
    for (size_t k = 0; k < kSlots; ++k)
        armed[k] = arm(k);
    m_started.Set();
    qorcam::gige::ServeSlotsInOrder(m_stop, slots, armed, [&](size_t k) {
        if (devio::NtSuccess(slots[k].Status())) Push(std::make_unique<AckDataEntry>(answers[k]));
        return arm(k);
    });
    m_driver.CancelIo();
    for (auto& slot : slots)
        m_driver.GetOverlappedResult(slot, nullptr, true);
    m_finished.Set();
}

} // namespace GenICam::Client
