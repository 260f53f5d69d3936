// The camera-event source of a GigE device (EVENT_CUSTOM_DEVICE_EVENT).
#include "CEventData.h"

#include "CGigEDevice.h"
#include "GenTLCustom.h"
#include "GigeIoctl.h"
#include "GigeRecords.h"
#include "GigeService.h"

#include <array>
#include <stdexcept>

namespace GenICam::Client {

using namespace qorcam;
using namespace qorcam::gige;

namespace {

constexpr uint32_t kRegMessagePort = 0x0B00;
constexpr uint32_t kRegMessageDestination = 0x0B10;
constexpr uint32_t kRegMessageTimeout = 0x0B14;
constexpr uint32_t kRegMessageRetries = 0x0B18;
constexpr uint32_t kRegMessageSourcePort = 0x0B1C;

} // namespace

CEventData::~CEventData() {
    if (m_thread.Running()) Stop();
}

void CEventData::FreePort() {
    GigePortRecord record{ProcessId(), m_socket.Port(), {0, 0}};
    CallService(m_device.Driver(), IOCTL_GIGE_PortFree, &record, sizeof record);
}

void CEventData::Start() {
    // A second registration keeps the channel that runs.
    if (m_thread.Running()) return CEventQueue::Start();
    m_socket = HeldUdpPort::HoldRandom(0xE000);
    if (!m_socket.IsBound()) {
        m_socket.Close();
        throw std::runtime_error("socket Error");
    }
    GigePortRecord record{ProcessId(), m_socket.Port(), {3, 0}};
    if (CallService(m_device.Driver(), IOCTL_GIGE_PortAlloc, &record, sizeof record) !=
        gige::STATUS_SUCCESS) {
        m_socket.Close();
        throw std::runtime_error("IOCTL_GIGE_PortAlloc Error");
    }
    // From here on a failure also hands the port back to the service.
    try {
        const uint32_t sourcePort = m_device.Port().Reg(kRegMessageSourcePort);
        GigeEventInfo info{ProcessId(), m_device.Info().GetCameraAddress(), m_socket.Port(),
                           static_cast<uint16_t>(sourcePort)};
        if (CallService(m_device.Driver(), IOCTL_GIGE_SetEventInfo, &info, sizeof info) !=
            gige::STATUS_SUCCESS)
            throw std::runtime_error("IOCTL_GIGE_SetEventInfo Error");
        m_thread.Start([this] { ExecThread(); });
    } catch (...) {
        FreePort();
        m_socket.Close();
        throw;
    }
    CEventQueue::Start();
}

void CEventData::Stop() {
    if (m_thread.Running()) {
        m_thread.Stop();
        FreePort();
        m_socket.Close();
    }
    CEventQueue::Stop();
}

void CEventData::ExecThread() {
    constexpr size_t kSlots = 5;
    std::array<std::array<uint8_t, sizeof(GigeRequestBlock)>, kSlots> data{};
    std::array<devio::Overlapped, kSlots> slots;
    std::array<bool, kSlots> armed{};
    devio::DeviceHandle& driver = m_device.Driver();
    const uint16_t port = m_socket.Port();
    auto arm = [&](size_t k) {
        Put<uint32_t>(data[k].data(), 0, ProcessId());
        Put<uint32_t>(data[k].data(), 4, m_device.Info().GetCameraAddress());
        Put<uint16_t>(data[k].data(), 8, port);
        return Taken(driver.DeviceIoControl(IOCTL_GIGE_GetEvent, data[k].data(), sizeof(GigeEventInfo),
                                            data[k].data(), GIGE_EVENT_DATA_SIZE, slots[k]));
    };
    for (size_t k = 0; k < kSlots; ++k)
        armed[k] = arm(k);
    bool setUp = true;
    try {
        CDevicePort& camera = m_device.Port();
        camera.WriteRegister(kRegMessagePort, port);
        camera.WriteRegister(kRegMessageDestination, m_device.MessageDestination());
        camera.WriteRegister(kRegMessageTimeout, 200);
        camera.WriteRegister(kRegMessageRetries, 3);
    } catch (...) {
        // The camera can't send events here: the registration fails and nothing keeps running.
        setUp = false;
        m_thread.SetUpFailed();
    }
    if (setUp) {
        m_thread.Started();
        ServeSlotsInOrder(m_thread.StopEvent(), slots, armed, [&](size_t k) {
            // A request that ended in an error still yields its record.
            Push(std::make_unique<EventDataEntry>(data[k].data(), GIGE_EVENT_DATA_SIZE));
            return arm(k);
        });
    }
    driver.CancelIo();
    for (auto& slot : slots)
        driver.GetOverlappedResult(slot, nullptr, true);
    try {
        m_device.Port().WriteRegister(kRegMessagePort, 0);
        m_device.Port().WriteRegister(kRegMessageDestination, 0);
    } catch (...) {
    }
}

} // namespace GenICam::Client
