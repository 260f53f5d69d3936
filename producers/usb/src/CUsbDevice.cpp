// The USB3 Vision device module: one opened camera, owned by this process in the service.
#include "CUsbDevice.h"

#include "CUsbDataStream.h"
#include "CUsbInterface.h"
#include "GenTLCustom.h"
#include "UsbService.h"
#include "gentl/InfoFillers.h"

#include <cstring>
#include <stdexcept>

namespace GenICam::Client {

using namespace qorcam;
using namespace qorcam::usb;

CUsbDevice::CUsbDevice(CTL* tl, CUsbInterface* parent, std::string id, std::unique_ptr<CDeviceInfo> info,
                       DEVICE_ACCESS_FLAGS access)
    : CDevice(tl, parent, std::move(id), access), m_interface(parent), m_info(std::move(info)) {
    if (m_driver.Open(m_info->GetDevicePath()) != devio::STATUS_SUCCESS)
        throw std::runtime_error("CreateFile Error");
    const uint32_t pid = ProcessId();
    // The registration stays with the service until the handle closes; its cancellation releases
    // whatever this process holds of the camera, also when the process dies.
    if (m_driver.DeviceIoControl(usbdrv::IOCTL_USB_ProcessId, &pid, sizeof pid, nullptr, 0, m_registration) !=
        devio::STATUS_PENDING) {
        m_driver.Close();
        throw std::runtime_error("IOCTL_USB_ProcessId Error");
    }
    if (CallAndWait(m_driver, usbdrv::IOCTL_USB_DeviceOpen, &pid, sizeof pid) != devio::STATUS_SUCCESS) {
        m_driver.Close();
        throw std::runtime_error("Device already open");
    }
    m_port = std::make_unique<CDevicePort>(*this);
    m_eventData = std::make_unique<CEventData>(*this);
}

CUsbDevice::~CUsbDevice() {
    m_eventData.reset();
    DestroyDataStreams();
    if (m_interface) m_interface->RemoveDevice(this);
    if (IsAccessible()) {
        const uint32_t pid = ProcessId();
        CallAndWait(m_driver, usbdrv::IOCTL_USB_DeviceClose, &pid, sizeof pid);
    }
    m_port.reset();
    m_driver.Close();
}

CDataStream* CUsbDevice::CreateDataStream(uint32_t index, const std::string& id) {
    return new CUsbDataStream(this, index, id);
}

CEventObj* CUsbDevice::EventSource(EVENT_TYPE type) {
    return type == EVENT_CUSTOM_DEVICE_EVENT ? m_eventData.get() : nullptr;
}

void CUsbDevice::Read(uint64_t, void*, size_t* size) {
    *size = 0;
}

void CUsbDevice::Write(uint64_t address, const void* buffer, size_t* size) {
    if (address == DEV_REG_CMD_TIMEOUT && *size == 4) {
        usbdrv::UsbCmdTimeout timeout{ProcessId(), 0};
        std::memcpy(&timeout.milliseconds, buffer, 4);
        CallAndWait(m_driver, usbdrv::IOCTL_USB_SetCmdTimeout, &timeout, sizeof timeout);
        return;
    }
    if (address == DEV_REG_RESET_STREAM_PIPE) {
        CallAndWait(m_driver, usbdrv::IOCTL_USB_ResetStreamPipe, nullptr, 0);
        return;
    }
    *size = 0;
}

void CUsbDevice::GetInfo(DEVICE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    const CDeviceInfo& info = *m_info;
    switch (cmd) {
    case DEVICE_INFO_ID:
        return CopyInfoString(buffer, size, type, info.GetID());
    case DEVICE_INFO_VENDOR:
        return CopyInfoString(buffer, size, type, info.GetManufacturer());
    case DEVICE_INFO_MODEL:
        return CopyInfoString(buffer, size, type, info.GetModel());
    case DEVICE_INFO_TLTYPE:
        return CopyInfoString(buffer, size, type, "U3V");
    case DEVICE_INFO_DISPLAYNAME:
        return CopyInfoString(buffer, size, type, info.GetDisplayName());
    case DEVICE_INFO_ACCESS_STATUS:
        return CopyInfoInt32(buffer, size, type, 1);
    case DEVICE_INFO_CUSTOM_VISIBLE:
        return CopyInfoBool8(buffer, size, type, IsAccessible());
    case DEVICE_INFO_CUSTOM_SPEED:
        return CopyInfoInt32(buffer, size, type, static_cast<int32_t>(info.GetControlMaxPacketSize()));
    case DEVICE_INFO_CUSTOM_BUS_NUMBER:
        return CopyInfoInt32(buffer, size, type, static_cast<int32_t>(info.GetNumber1002()));
    case DEVICE_INFO_CUSTOM_SPEC_MAJOR:
        return CopyInfoInt32(buffer, size, type, info.GetGenCPMajor());
    case DEVICE_INFO_CUSTOM_SPEC_MINOR:
        return CopyInfoInt32(buffer, size, type, info.GetGenCPMinor());
    case DEVICE_INFO_CUSTOM_DEV_VERSION:
        return CopyInfoString(buffer, size, type, info.GetDeviceVersion());
    case DEVICE_INFO_CUSTOM_VENDOR_INFO:
        return CopyInfoString(buffer, size, type, info.GetManufacturerInfo());
    case DEVICE_INFO_CUSTOM_SERIAL_NUMBER:
        return CopyInfoString(buffer, size, type, info.GetSerialNumber());
    case DEVICE_INFO_CUSTOM_USER_NAME:
        return CopyInfoString(buffer, size, type, info.GetUserName());
    case DEVICE_INFO_CUSTOM_FAMILY_NAME:
        return CopyInfoString(buffer, size, type, info.GetFamilyName());
    case DEVICE_INFO_CUSTOM_CAPABILITY:
        return CopyInfoUInt64(buffer, size, type, info.GetCapability());
    case DEVICE_INFO_CUSTOM_EVENT_SIZE_MAX:
        return CopyInfoUInt32(buffer, size, type, info.GetMaxEventTransfer());
    default:
        throw std::invalid_argument(FormatString("Invalid DeviceInfoId %d", cmd));
    }
}

} // namespace GenICam::Client
