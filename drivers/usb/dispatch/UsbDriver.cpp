// UsbDriver: device objects made on arrival and removed on removal.
#include "UsbDriver.h"

#include "UsbDeviceControl.h"

#include "devio/DeviceName.h"

#include <cstdio>

namespace qorcam::usbdrv {

std::filesystem::path DeviceSocketPath(const std::string& busId) {
    std::string instance = busId;
    for (char& c : instance) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '_' || c == '.';
        if (!plain) c = '_';
    }
    if (instance.empty() || instance == "." || instance == "..") instance = "_" + instance;
    return devio::DeviceInterfaceDirectory(kUsbDeviceInterfaceClass) / instance;
}

UsbDriver::UsbDriver(std::unique_ptr<usb::Bus> bus, UsbParameters parameters)
    : bus_(std::move(bus)), busForNotices_(bus_.get()), parameters_(parameters) {}

UsbDriver::~UsbDriver() {
    Stop();
}

bool UsbDriver::Start() {
    if (!bus_) return false;
    return bus_->Watch([this](const std::string& id) { Arrived(id); },
                       [this](const std::string& id) { Removed(id); });
}

void UsbDriver::Stop() {
    std::map<std::string, std::unique_ptr<UsbDevice>> devices;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        devices.swap(devices_);
    }
    devices.clear();
    bus_.reset(); // ends the watch; no notice comes after this
    std::lock_guard lock(mutex_);
    devices_.clear();
}

std::vector<std::string> UsbDriver::Devices() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> ids;
    for (const auto& [id, device] : devices_)
        ids.push_back(id);
    return ids;
}

void UsbDriver::Arrived(const std::string& id) {
    {
        std::lock_guard lock(mutex_);
        if (stopped_ || devices_.count(id) != 0) return;
    }
    auto usbDevice = busForNotices_->Open(id);
    if (!usbDevice) {
        std::fprintf(stderr, "QorUSBDrv: %s can't be opened\n", id.c_str());
        return;
    }
    auto device = std::make_unique<UsbDevice>(std::move(usbDevice), parameters_);
    devio::NtStatus status = device->PrepareHardware();
    if (status == devio::STATUS_SUCCESS) status = device->Serve(DeviceSocketPath(id));
    if (status != devio::STATUS_SUCCESS) {
        std::fprintf(stderr, "QorUSBDrv: %s not started: status 0x%08X\n", id.c_str(), status);
        return;
    }
    std::lock_guard lock(mutex_);
    if (!stopped_) devices_.emplace(id, std::move(device));
}

void UsbDriver::Removed(const std::string& id) {
    std::unique_ptr<UsbDevice> device;
    {
        std::lock_guard lock(mutex_);
        const auto found = devices_.find(id);
        if (found == devices_.end()) return;
        device = std::move(found->second);
        devices_.erase(found);
    }
    device->Release();
    device.reset();
}

} // namespace qorcam::usbdrv
