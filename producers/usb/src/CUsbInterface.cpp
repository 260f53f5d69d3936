// The USB3 Vision interface module: the cameras of the service's device class and their records.
#include "CUsbInterface.h"

#include "CUsbDevice.h"
#include "GenTLCustom.h"
#include "UsbService.h"
#include "devio/DeviceName.h"
#include "gentl/CInterfaceInfo.h"
#include "gentl/InfoFillers.h"
#include "gentl/ListedDevices.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <stdexcept>

namespace GenICam::Client {

using namespace qorcam;
using namespace qorcam::usb;

namespace {

// Whether a driver of this process's lifetime has answered the interface version yet.
std::atomic<bool> g_versionChecked{false};

// The device paths of the class, in name order; a class folder that does not exist means no camera.
std::vector<std::string> PresentDevices() {
    namespace fs = std::filesystem;
    const fs::path folder = devio::DeviceInterfaceDirectory(usbdrv::kUsbDeviceInterfaceClass);
    std::error_code error;
    if (!fs::exists(folder, error)) {
        if (error) throw std::runtime_error("SetupDiGetClassDevs Error");
        return {};
    }
    std::vector<std::string> paths;
    fs::directory_iterator it(folder, error);
    if (error) throw std::runtime_error("SetupDiGetClassDevs Error");
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) throw std::runtime_error("SetupDiGetClassDevs Error");
        std::error_code ignored;
        if (it->is_socket(ignored)) paths.push_back(it->path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

// False when the device can't be opened; throws when it answers another interface version.
bool CheckVersion(const std::string& path) {
    devio::DeviceHandle driver;
    if (driver.Open(path) != devio::STATUS_SUCCESS) return false;
    usbdrv::UsbVersionAnswer answer{};
    uint64_t bytes = 0;
    const uint32_t status =
        CallAndWait(driver, usbdrv::IOCTL_USB_GetVersion, nullptr, 0, &answer, sizeof answer, &bytes);
    if (status != devio::STATUS_SUCCESS || bytes < sizeof answer.version ||
        answer.version != usbdrv::kUsbInterfaceVersion)
        throw std::runtime_error("USB Driver Version Error");
    return true;
}

} // namespace

CUsbInterface::CUsbInterface(CTL* tl, std::unique_ptr<CInterfaceInfo> info)
    : CInterface(tl, std::move(info)) {}

CUsbInterface::~CUsbInterface() {
    DestroyOpenDevices();
}

uint32_t CUsbInterface::GetNumDevices() {
    return static_cast<uint32_t>(m_devices.size());
}

std::string CUsbInterface::GetDeviceID(uint32_t index) {
    return ListedDeviceID(m_devices, index);
}

void CUsbInterface::UpdateDeviceList(bool8_t* changed, uint64_t) {
    if (changed) *changed = 0;
    std::vector<std::unique_ptr<CDeviceInfo>> fresh;
    for (const std::string& path : PresentDevices()) {
        // A driver that answers another version keeps failing every update until it is replaced.
        if (!g_versionChecked.load()) {
            if (!CheckVersion(path)) break;
            g_versionChecked = true;
        }
        try {
            fresh.push_back(std::make_unique<CDeviceInfo>(path));
        } catch (const std::exception&) {
            // A camera whose record can't be built is not listed; the walk goes on.
        }
    }

    std::vector<std::unique_ptr<CDeviceInfo>> old = std::move(m_devices);
    m_devices.clear();
    for (auto& previous : old) {
        const auto same = std::find_if(fresh.begin(), fresh.end(), [&](const auto& entry) {
            return entry && entry->GetID() == previous->GetID();
        });
        if (same == fresh.end()) {
            if (changed) *changed = 1;
            continue;
        }
        same->reset();
        m_devices.push_back(std::move(previous));
    }
    for (auto& entry : fresh) {
        if (!entry) continue;
        // Two devices of one number would make the second unreachable by id: it is listed once.
        const bool listed = std::any_of(m_devices.begin(), m_devices.end(),
                                        [&](const auto& d) { return d->GetID() == entry->GetID(); });
        if (listed) continue;
        m_devices.push_back(std::move(entry));
        if (changed) *changed = 1;
    }
}

void CUsbInterface::GetDeviceInfo(const std::string& id, DEVICE_INFO_CMD cmd, INFO_DATATYPE* type,
                                  void* buffer, size_t* size) {
    if (!size) throw std::invalid_argument("Invalid Pointer");
    const CDeviceInfo* info = nullptr;
    for (const auto& entry : m_devices) {
        if (entry->IsMatch(id)) {
            info = entry.get();
            break;
        }
    }
    if (!info) throw std::runtime_error("Unable to find device " + id);
    if (AnswerListedDeviceInfo(*info, cmd, type, buffer, size)) return;
    switch (cmd) {
    case DEVICE_INFO_TLTYPE:
        return CopyInfoString(buffer, size, type, "U3V");
    case DEVICE_INFO_ACCESS_STATUS:
        return CopyInfoInt32(buffer, size, type, 1);
    case DEVICE_INFO_CUSTOM_SPEED:
        return CopyInfoInt32(buffer, size, type, static_cast<int32_t>(info->GetControlMaxPacketSize()));
    case DEVICE_INFO_CUSTOM_BUS_NUMBER:
        return CopyInfoInt32(buffer, size, type, static_cast<int32_t>(info->GetNumber1002()));
    default:
        throw std::invalid_argument(FormatString("Invalid DeviceInfoId %d", cmd));
    }
}

CDevice* CUsbInterface::OpenDevice(const std::string& id, DEVICE_ACCESS_FLAGS access) {
    return OpenListedDevice<CUsbDevice>(*this, id, m_devices, [&](const CDeviceInfo& found) {
        return new CUsbDevice(GetParent(), this, found.GetID(), std::make_unique<CDeviceInfo>(found), access);
    });
}

} // namespace GenICam::Client
