// CameraUSB: CCameraUSB, a camera opened through a USB3 Vision producer.
#include "CameraUSB.h"

#include "GenTLCustom.h"

#include <cstring>

namespace qorcam::library {

bool CCameraUSB::CameraInfo(QORCAM_USBCAMERAINFO* info) {
    std::memset(info, 0, sizeof *info);
    std::uint32_t major = 0, minor = 0, bus = 0;
    std::uint64_t capability = 0;
    auto fail = [this] {
        InfoFailed("CCameraUSB::CameraInfo");
        return false;
    };
    if (!DeviceInfo(DEVICE_INFO_CUSTOM_SPEC_MAJOR, &major, sizeof major) ||
        !DeviceInfo(DEVICE_INFO_CUSTOM_SPEC_MINOR, &minor, sizeof minor))
        return fail();
    info->GenCP_Version = (major << 16) | minor;
    if (!TextInfo(DEVICE_INFO_VENDOR, info->VendorName, sizeof info->VendorName) ||
        !TextInfo(DEVICE_INFO_MODEL, info->ModelName, sizeof info->ModelName) ||
        !TextInfo(DEVICE_INFO_CUSTOM_FAMILY_NAME, info->FamilyName, sizeof info->FamilyName) ||
        !TextInfo(DEVICE_INFO_CUSTOM_DEV_VERSION, info->Dev_Version, sizeof info->Dev_Version) ||
        !TextInfo(DEVICE_INFO_CUSTOM_VENDOR_INFO, info->Vendor_Info, sizeof info->Vendor_Info) ||
        !TextInfo(DEVICE_INFO_CUSTOM_SERIAL_NUMBER, info->SerialNumber, sizeof info->SerialNumber) ||
        !TextInfo(DEVICE_INFO_CUSTOM_USER_NAME, info->UserName, sizeof info->UserName))
        return fail();
    if (!DeviceInfo(DEVICE_INFO_CUSTOM_BUS_NUMBER, &bus, sizeof bus)) return fail();
    info->BusNumber = bus;
    if (!DeviceInfo(DEVICE_INFO_CUSTOM_CAPABILITY, &capability, sizeof capability)) return fail();
    info->Dev_Capability = capability;
    return true;
}

} // namespace qorcam::library
