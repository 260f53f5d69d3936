// The action-acknowledge event source of the GigE interface (EVENT_CUSTOM_ACTION_ACK).
#include "CAckData.h"

#include "GigeIoctl.h"
#include "GigeService.h"
#include "devio/DeviceHandle.h"

#include <array>

namespace GenICam::Client {

using namespace qorcam;

CAckData::CAckData(devio::DeviceHandle& driver) : m_driver(driver) {}

CAckData::~CAckData() {
    if (m_thread.Running()) Stop();
}

void CAckData::Start() {
    // A second registration keeps the thread that runs.
    if (m_thread.Running()) return CEventQueue::Start();
    m_thread.Start([this] { ExecThread(); });
    CEventQueue::Start();
}

void CAckData::Stop() {
    m_thread.Stop();
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
    m_thread.Started();
    qorcam::gige::ServeSlotsInOrder(m_thread.StopEvent(), slots, armed, [&](size_t k) {
        if (devio::NtSuccess(slots[k].Status())) Push(std::make_unique<AckDataEntry>(answers[k]));
        return arm(k);
    });
    m_driver.CancelIo();
    for (auto& slot : slots)
        m_driver.GetOverlappedResult(slot, nullptr, true);
}

} // namespace GenICam::Client
