// The GigE interface module: the GigE network service's device, its camera list and bus events.
#include "CGigEInterface.h"

#include "AdapterAddresses.h"
#include "CGigEDevice.h"
#include "GenTLCustom.h"
#include "GigeIoctl.h"
#include "GigeRecords.h"
#include "GigeService.h"
#include "gentl/CInterfaceInfo.h"
#include "gentl/InfoFillers.h"
#include "gentl/ListedDevices.h"
#include "os/WaitAny.h"

#include <arpa/inet.h>
#include <array>
#include <cstring>
#include <stdexcept>

namespace GenICam::Client {

using namespace qorcam;
using namespace qorcam::gige;

namespace {

// Capacity of the device-list answer, in camera records.
constexpr uint32_t kListCapacity = 60;
constexpr size_t kListBytes = 4 + kListCapacity * sizeof(GigeDeviceRecord);
static_assert(kListBytes == 12124);

} // namespace

CGigEInterface::CGigEInterface(CTL* tl, std::unique_ptr<CInterfaceInfo> info)
    : CInterface(tl, std::move(info)) {
    if (m_driver.Open(GetInterfaceInfo().GetDevicePath()) != devio::STATUS_SUCCESS)
        throw std::runtime_error("CreateFile Error");
    GigeVersionInfo version{};
    if (CallService(m_driver, IOCTL_GIGE_GetVersion, nullptr, 0, &version, sizeof version) !=
            devio::STATUS_SUCCESS ||
        version.version != LIBRARY_STRUCT_VERSION)
        throw std::runtime_error("GigE Driver Version Error");
    ReportAdapters();
    m_ackData = std::make_unique<CAckData>(m_driver);
    if (!m_thread.Start([this] { InterfaceThread(); }, os::ThreadPriority::TimeCritical))
        throw std::runtime_error("Interface Thread Create Error");
    m_started.Wait(os::kInfinite);
}

CGigEInterface::~CGigEInterface() {
    m_stop.Set();
    m_ended.Wait(os::kInfinite);
    m_thread.Join();
    m_devices.clear();
    DestroyOpenDevices();
    m_ackData.reset();
    m_driver.Close();
}

void CGigEInterface::ReportAdapters() {
    for (const DhcpAdapter& adapter : ListDhcpAdapters()) {
        GigeAdapterAddress record{};
        for (size_t i = 0; i < adapter.name.size() && i + 1 < kAdapterNameChars; ++i)
            record.shortName[i] = static_cast<unsigned char>(adapter.name[i]);
        record.ip = adapter.ip;
        record.mask = adapter.mask;
        CallService(m_driver, IOCTL_GIGE_SetAdapterAddress, &record, sizeof record);
    }
}

void CGigEInterface::InterfaceThread() {
    constexpr int kWaits = 5;
    const uint32_t pid = ProcessId();
    devio::Overlapped registration;
    std::array<devio::Overlapped, kWaits> waits;
    std::array<bool, kWaits> armed{};
    // A wake-up completes every wait the service held over the sleep at once: set for the waits sent
    // before a power-up was reported, whose own power-up completion is that same wake-up.
    std::array<bool, kWaits> reported{};
    // The registration stays with the service for the thread's life; its cancellation makes the service
    // free everything this process holds.
    m_driver.DeviceIoControl(IOCTL_GIGE_RegisterProcess, &pid, sizeof pid, nullptr, 0, registration);
    auto arm = [&](int k) {
        reported[k] = false;
        // A service that is gone completes every request at once: such a wait is not sent again.
        armed[k] =
            Taken(m_driver.DeviceIoControl(IOCTL_GIGE_WaitBusEvent, &pid, sizeof pid, nullptr, 0, waits[k]));
    };
    for (int k = 0; k < kWaits; ++k)
        arm(k);
    m_started.Set();
    for (;;) {
        std::vector<os::Waitable*> objects{&m_stop};
        std::vector<int> slot;
        for (int k = 0; k < kWaits; ++k) {
            if (!armed[k]) continue;
            objects.push_back(&waits[k].CompletionEvent());
            slot.push_back(k);
        }
        const int which = os::WaitAny(objects, os::kInfinite);
        if (which <= 0) break;
        const int k = slot[which - 1];
        const uint32_t status = waits[k].Status();
        uint32_t code = BUS_EVENT_OTHER;
        if (status == STATUS_POWER_PARKED) code = BUS_EVENT_POWER_UP;
        if (status == gige::STATUS_SUCCESS || status == STATUS_GIGE_DEVICE_LOST) code = BUS_EVENT_RESET;
        // One wake-up is one power-up event, however many waits it completes.
        const bool again = code == BUS_EVENT_POWER_UP && reported[k];
        if (code == BUS_EVENT_POWER_UP && !again) {
            for (int other = 0; other < kWaits; ++other)
                reported[other] = armed[other] && other != k;
        }
        if (!again) GetBusEvent().Push(std::make_unique<BusEventEventEntry>(code));
        arm(k);
    }
    m_driver.CancelIo();
    m_driver.GetOverlappedResult(registration, nullptr, true);
    for (auto& wait : waits)
        m_driver.GetOverlappedResult(wait, nullptr, true);
    m_ended.Set();
}

void CGigEInterface::Read(uint64_t, void*, size_t* size) {
    *size = 0;
}

void CGigEInterface::Write(uint64_t address, const void* buffer, size_t* size) {
    if (address == IF_REG_REDISCOVER) {
        CallService(m_driver, IOCTL_GIGE_Rediscover, nullptr, 0);
        return;
    }
    if (address == IF_REG_ACTION && *size == 12) {
        uint8_t block[sizeof(GigeRequestBlock)] = {};
        uint32_t keys[3];
        std::memcpy(keys, buffer, sizeof keys);
        Put<uint32_t>(block, 4, 0);
        Put<uint16_t>(block, 8, 5);
        Put<uint32_t>(block, 12, keys[0]);
        Put<uint32_t>(block, 16, keys[1]);
        Put<uint32_t>(block, 20, keys[2]);
        CallService(m_driver, IOCTL_GIGE_SendActionCmd, block, sizeof block);
        return;
    }
    *size = 0;
}

CEventObj* CGigEInterface::EventSource(EVENT_TYPE type) {
    return type == EVENT_CUSTOM_ACTION_ACK ? m_ackData.get() : nullptr;
}

uint32_t CGigEInterface::GetNumDevices() {
    return static_cast<uint32_t>(m_devices.size());
}

std::string CGigEInterface::GetDeviceID(uint32_t index) {
    return ListedDeviceID(m_devices, index);
}

void CGigEInterface::UpdateDeviceList(bool8_t* changed, uint64_t) {
    if (changed) *changed = 0;
    std::vector<uint8_t> list(kListBytes);
    Put<uint32_t>(list.data(), 0, kListCapacity);
    uint64_t bytes = 0;
    if (CallService(m_driver, IOCTL_GIGE_GetDeviceList, list.data(), 4, list.data(), list.size(), &bytes) !=
        devio::STATUS_SUCCESS)
        throw std::runtime_error("Get Device List Error");
    // Only records the service really wrote are read, however many it claims.
    const uint64_t written = std::min<uint64_t>(bytes, list.size());
    const uint64_t count = std::min<uint64_t>(Get<uint32_t>(list.data(), 0),
                                              written < 4 ? 0 : (written - 4) / sizeof(GigeDeviceRecord));

    std::vector<std::unique_ptr<CDeviceInfo>> fresh;
    for (uint64_t i = 0; i < count; ++i) {
        GigeDeviceRecord record;
        std::memcpy(&record, list.data() + 4 + i * sizeof record, sizeof record);
        GigeDeviceLink link{};
        link.cameraIp = record.ip;
        if (CallService(m_driver, IOCTL_GIGE_GetDeviceInfo, &link, sizeof link, &link, sizeof link) !=
                devio::STATUS_SUCCESS ||
            link.adapterIp == 0)
            continue;
        fresh.push_back(std::make_unique<CDeviceInfo>(record, link));
    }

    std::vector<std::unique_ptr<CDeviceInfo>> old = std::move(m_devices);
    m_devices.clear();
    for (auto& entry : fresh) {
        for (auto& previous : old) {
            if (!previous || previous->GetID() != entry->GetID()) continue;
            previous->SetCameraAddress(entry->GetCameraAddress());
            previous->SetAdapterAddress(entry->GetAdapterAddress());
            previous->SetLinkSpeed(entry->GetLinkSpeed());
            m_devices.push_back(std::move(previous));
            entry.reset();
            break;
        }
    }
    for (auto& entry : fresh) {
        if (!entry) continue;
        m_devices.push_back(std::move(entry));
        if (changed) *changed = 1;
    }
    for (auto& previous : old) {
        if (previous && changed) *changed = 1;
    }

    for (CDevice* open : GetOpenDevices()) {
        auto* device = static_cast<CGigEDevice*>(open);
        bool listed = false;
        for (const auto& entry : m_devices)
            listed = listed || entry->GetID() == device->GetID();
        if (listed) continue;
        // A camera this process controls stays listed; one it only watches is gone.
        if (device->GetAccess() == DEVICE_ACCESS_CONTROL || device->GetAccess() == DEVICE_ACCESS_EXCLUSIVE)
            m_devices.push_back(std::make_unique<CDeviceInfo>(device->Info()));
        else
            device->SetVisible(false);
    }
}

void CGigEInterface::GetDeviceInfo(const std::string& id, DEVICE_INFO_CMD cmd, INFO_DATATYPE* type,
                                   void* buffer, size_t* size) {
    if (!size) throw std::invalid_argument("Invalid Pointer");
    const CDeviceInfo* info = nullptr;
    for (CDevice* open : GetOpenDevices()) {
        auto* device = static_cast<CGigEDevice*>(open);
        if (device->Info().IsMatch(id)) info = &device->Info();
    }
    for (size_t i = 0; !info && i < m_devices.size(); ++i) {
        if (m_devices[i]->IsMatch(id)) info = m_devices[i].get();
    }
    if (!info) throw std::runtime_error("Unable to find device " + id);
    if (AnswerListedDeviceInfo(*info, cmd, type, buffer, size)) return;
    switch (cmd) {
    case DEVICE_INFO_TLTYPE:
        return CopyInfoString(buffer, size, type, "GEV");
    case DEVICE_INFO_ACCESS_STATUS:
        return CopyInfoInt32(buffer, size, type, 3);
    case DEVICE_INFO_CUSTOM_SPEED:
        return CopyInfoInt32(buffer, size, type, static_cast<int32_t>(info->GetLinkSpeed()));
    case DEVICE_INFO_CUSTOM_BUS_NUMBER:
        return CopyInfoInt32(buffer, size, type, static_cast<int32_t>(info->GetAdapterAddress()));
    default:
        throw std::invalid_argument(FormatString("Invalid DeviceInfoId %d", cmd));
    }
}

CDevice* CGigEInterface::OpenDevice(const std::string& id, DEVICE_ACCESS_FLAGS access) {
    return OpenListedDevice<CGigEDevice>(*this, id, m_devices, [&](const CDeviceInfo& found) {
        return new CGigEDevice(GetParent(), this, found.GetID(), std::make_unique<CDeviceInfo>(found), access);
    });
}

void CGigEInterface::DescribeListedDevices(CModuleDescription& description) {
    auto listed = [this](uint32_t i) -> const CDeviceInfo& {
        if (i >= m_devices.size() || !m_devices[i])
            throw std::invalid_argument(FormatString(" Invalid Device Index %d", i));
        return *m_devices[i];
    };
    description.AddNumber("GevDeviceIPAddress", true,
                          [listed](uint32_t i) { return int64_t{ntohl(listed(i).GetCameraAddress())}; });
    description.AddNumber("GevDeviceMACAddress", true,
                          [listed](uint32_t i) { return static_cast<int64_t>(listed(i).GetMac()); });
}

} // namespace GenICam::Client
