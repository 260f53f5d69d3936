// CameraUSB: CCameraUSB, a camera opened through a USB3 Vision producer.
#include "CameraUSB.h"

#include "GenTLCustom.h"

#include <cstring>

namespace qorcam::library {

bool CCameraUSB::CameraInfo(QORCAM_USBCAMERAINFO* info) {
    std::memset(info, 0, sizeof *info);
    char text[1024];
    std::uint32_t major = 0, minor = 0, bus = 0;
    std::uint64_t capability = 0;
    auto fail = [this] {
        InfoFailed("CCameraUSB::CameraInfo");
        return false;
    };
    auto textInto = [&](std::int32_t command, char* field, std::size_t size) {
        if (!DeviceInfo(command, text, sizeof text)) return false;
        std::memcpy(field, text, size);
        return true;
    };
    if (!DeviceInfo(DEVICE_INFO_CUSTOM_SPEC_MAJOR, &major, sizeof major) ||
        !DeviceInfo(DEVICE_INFO_CUSTOM_SPEC_MINOR, &minor, sizeof minor))
        return fail();
    info->GenCP_Version = (major << 16) | minor;
    if (!textInto(DEVICE_INFO_VENDOR, info->VendorName, sizeof info->VendorName) ||
        !textInto(DEVICE_INFO_MODEL, info->ModelName, sizeof info->ModelName) ||
        !textInto(DEVICE_INFO_CUSTOM_FAMILY_NAME, info->FamilyName, sizeof info->FamilyName) ||
        !textInto(DEVICE_INFO_CUSTOM_DEV_VERSION, info->Dev_Version, sizeof info->Dev_Version) ||
        !textInto(DEVICE_INFO_CUSTOM_VENDOR_INFO, info->Vendor_Info, sizeof info->Vendor_Info) ||
        !textInto(DEVICE_INFO_CUSTOM_SERIAL_NUMBER, info->SerialNumber, sizeof info->SerialNumber) ||
        !textInto(DEVICE_INFO_CUSTOM_USER_NAME, info->UserName, sizeof info->UserName))
        return fail();
    if (!DeviceInfo(DEVICE_INFO_CUSTOM_BUS_NUMBER, &bus, sizeof bus)) return fail();
    info->BusNumber = bus;
    if (!DeviceInfo(DEVICE_INFO_CUSTOM_CAPABILITY, &capability, sizeof capability)) return fail();
    info->Dev_Capability = capability;
    return true;
}

} // namespace qorcam::library
